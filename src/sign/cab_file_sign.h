// The cabinet signer, for cabinets and the update packages stored as cabinets (.cab, .msu).
#pragma once

#include <string>

#include "sign/file_sign.h"

namespace corvane {

class CabFileSign : public MsFileSign {
 public:
  // Replaces the signature that the signing service wrote at the end of the working copy by
  // the final one: the bytes before it are copied in bounded chunks into a new file beside the
  // working copy (its name with ".cab" appended), the size field of the reserve becomes
  // final length + pad (the padding the service wrote, as zero bytes), and the new file takes
  // the working copy's name. A failure leaves the working copy as it was and raises
  // "CabFileSign::EmbedSignedData, <cause>".
  void EmbedSignedData(const std::string& path, const std::string& data) override;
};

}  // namespace corvane
