#include "sign/catalog_member.h"

#include <sys/stat.h>

#include <memory>

#include "base/status.h"
#include "formats/cfb/compound_file.h"
#include "sign/subject_format.h"

namespace corvane {

std::string ReferenceTag(const std::string& digest) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string tag;
  for (unsigned char c : digest) {
    tag.push_back(kHex[c >> 4]);
    tag.push_back(kHex[c & 0x0F]);
  }
  return tag;
}

MemberIndirectData CreateMemberIndirectData(const std::string& path, HashAlgorithm algorithm) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || st.st_size == 0) RaiseStatus(StatusCode::FileContentEmpty);
  MemberIndirectData out;
  try {
    std::unique_ptr<SubjectFormat> member = OpenCatalogMember(path);
    out.subjectType = member->MemberSubjectType();
    out.digest = member->MemberDigest(HashMd(algorithm));
    out.indirectData =
        BuildIndirectData(member->IndirectDataValue(algorithm), algorithm, out.digest);
  } catch (const ExceptionEx&) {
    throw;
  } catch (const cfb::CfbFormatError&) {
    // A damaged package has no digest Windows would compute either.
    RaiseStatus(StatusCode::FileTypeNotSupported);
  } catch (const std::exception&) {
    RaiseStatus(StatusCode::Undefined);
  }
  return out;
}

}  // namespace corvane
