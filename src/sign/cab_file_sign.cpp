#include "sign/cab_file_sign.h"

#include <future>

#include "base/status.h"
#include "cert/cert_manager.h"
#include "formats/cab/cab_image.h"
#include "formats/file_reader.h"

namespace corvane {

bool CabFileSign::FillWorkingCopy(const std::string& source, const std::string& workingCopy) {
  // The digest the prepared copy will have is taken from the source on a second core while
  // the copy is written, so the copy need not be read again.
  const EVP_MD* md = nullptr;
  try {
    md = HashMd(ChosenHashAlgorithm());
  } catch (const std::exception&) {
    // The signing itself reports what makes this fail.
  }
  const formats::FileStamp before = formats::StampOf(source);
  std::future<std::string> digest;
  if (md)
    digest = std::async(std::launch::async, [&source, md]() -> std::string {
      try {
        return cab::PreparedDigest(source, md);
      } catch (const std::exception&) {
        return {};
      }
    });
  try {
    cab::CopyForSigning(source, workingCopy);
  } catch (const cab::CabFormatError&) {
    // Not a cabinet that can be signed: a plain copy lets the signing service say so.
    return false;
  }
  if (digest.valid()) {
    std::string value = digest.get();
    if (!value.empty() && formats::StampOf(source) == before) copyDigest_.emplace(md, value);
  }
  return true;
}

void CabFileSign::EmbedFinalSignature(SubjectFormat& file, const std::string& data) {
  CFileSign::EmbedSignedData(file.path(), data);
  try {
    file.WriteSignature(data);
  } catch (const cab::CabWriteError& e) {
    RaiseStatus("%s, %s", "CabFileSign::EmbedSignedData", e.code().message().c_str());
  } catch (const std::exception&) {
    RaiseStatus("%s, %s", "CabFileSign::EmbedSignedData", StatusCodeText(StatusCode::Undefined));
  }
}

void CabFileSign::EmbedSignedData(const std::string& path, const std::string& data) {
  CFileSign::EmbedSignedData(path, data);
  try {
    cab::ReplaceSignatureInPlace(path, platformSignatureLength_, data);
  } catch (const cab::CabWriteError& e) {
    // The working copy could not take the final signature (a full disk, say).
    RaiseStatus("%s, %s", "CabFileSign::EmbedSignedData", e.code().message().c_str());
  } catch (const std::exception&) {
    RaiseStatus("%s, %s", "CabFileSign::EmbedSignedData", StatusCodeText(StatusCode::Undefined));
  }
}

}  // namespace corvane
