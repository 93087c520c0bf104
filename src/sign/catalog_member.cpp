#include "sign/catalog_member.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "base/status.h"
#include "crypto/openssl_ptr.h"
#include "formats/cab/cab_image.h"
#include "formats/catalog/catalog_file.h"
#include "formats/cfb/compound_file.h"
#include "formats/msi/msi_package.h"
#include "formats/pe/pe_image.h"
#include "sign/authenticode_content.h"

namespace corvane {
namespace {

constexpr unsigned char kCompoundFileMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

class Descriptor {
 public:
  explicit Descriptor(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

std::string Head(const std::string& path, std::size_t length) {
  Descriptor fd(path);
  if (fd.get() < 0) return {};
  std::string head(length, '\0');
  ssize_t n = ::pread(fd.get(), head.data(), length, 0);
  head.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return head;
}

// The subject type is decided by content, as the packages claim files; a file no package
// claims is a flat image.
SubjectKind FormatOf(const std::string& path) {
  if (pe::LooksLikePe(path)) return SubjectKind::PeImage;
  std::string head = Head(path, sizeof kCompoundFileMagic);
  if (head.compare(0, 4, "MSCF") == 0) return SubjectKind::Cabinet;
  if (head.size() == sizeof kCompoundFileMagic &&
      std::memcmp(head.data(), kCompoundFileMagic, sizeof kCompoundFileMagic) == 0)
    return SubjectKind::InstallerPackage;
  return SubjectKind::FlatImage;
}

// The digest with `md` over [from, to) of the open file, and `prefix` before it.
std::string DigestRange(int fd, const EVP_MD* md, const std::string& prefix, std::uint64_t from,
                        std::uint64_t to) {
  EvpMdCtxPtr ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1) RaiseStatus(StatusCode::Undefined);
  EVP_DigestUpdate(ctx.get(), prefix.data(), prefix.size());
  std::vector<char> buffer(1 << 16);
  for (std::uint64_t at = from; at < to;) {
    std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), to - at));
    ssize_t n = ::pread(fd, buffer.data(), want, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) RaiseStatus(StatusCode::Undefined);  // unreadable, or shrank under us
    EVP_DigestUpdate(ctx.get(), buffer.data(), static_cast<std::size_t>(n));
    at += static_cast<std::uint64_t>(n);
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) RaiseStatus(StatusCode::Undefined);
  return std::string(reinterpret_cast<char*>(digest), length);
}

// A cabinet without the signature reserve is digested as it stands: everything but the
// header checksum field (bytes 4..7).
std::string UnreservedCabinetDigest(int fd, const EVP_MD* md, std::uint64_t size) {
  std::string magic(4, '\0');
  if (::pread(fd, magic.data(), 4, 0) != 4) RaiseStatus(StatusCode::Undefined);
  return DigestRange(fd, md, magic, 8, size);
}

}  // namespace

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
  const EVP_MD* md = HashMd(algorithm);
  const SubjectKind format = FormatOf(path);
  Descriptor fd(path);
  struct stat st {};
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || st.st_size == 0)
    RaiseStatus(StatusCode::FileContentEmpty);
  const auto size = static_cast<std::uint64_t>(st.st_size);

  MemberIndirectData out;
  try {
    switch (format) {
      case SubjectKind::PeImage:
        out.subjectType = catalog::kSubjectPeImage;
        out.digest = pe::AuthenticodeDigest(path, md);
        break;
      case SubjectKind::Cabinet: {
        out.subjectType = catalog::kSubjectCabinet;
        cab::CabLayout layout = cab::ReadLayout(path);
        out.digest = layout.signatureReserve ? cab::AuthenticodeDigest(path, md)
                                             : UnreservedCabinetDigest(fd.get(), md, size);
        break;
      }
      case SubjectKind::InstallerPackage:
        out.subjectType = catalog::kSubjectInstallerPackage;
        out.digest = msi::AuthenticodeDigest(path, md);
        break;
      case SubjectKind::FlatImage:
      case SubjectKind::Catalog:  // a catalog member that is a catalog is digested as it stands
        out.subjectType = catalog::kSubjectFlatImage;
        out.digest = DigestRange(fd.get(), md, {}, 0, size);
        break;
    }
    out.indirectData = BuildIndirectData(format, algorithm, out.digest);
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
