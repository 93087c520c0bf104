#include "sign/cab_file_sign.h"

#include "app/status.h"
#include "formats/cab/cab_image.h"

namespace corvane {

void CabFileSign::EmbedSignedData(const std::string& path, const std::string& data) {
  CFileSign::EmbedSignedData(path, data);
  try {
    cab::ReplaceSignature(path, platformSignatureLength_, data, path + ".cab");
  } catch (const cab::CabWriteError& e) {
    // The new file could not take the signed cabinet (a full disk, say): the system says why.
    RaiseStatus("%s, %s", "CabFileSign::EmbedSignedData", e.code().message().c_str());
  } catch (const std::exception&) {
    RaiseStatus("%s, %s", "CabFileSign::EmbedSignedData", StatusCodeText(StatusCode::Undefined));
  }
}

}  // namespace corvane
