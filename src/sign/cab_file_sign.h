// The cabinet signer, for cabinets and the update packages stored as cabinets (.cab, .msu).
#pragma once

#include <string>

#include "sign/file_sign.h"

namespace corvane {

class CabFileSign : public MsFileSign {
 public:
  // Replaces the signature that the signing service wrote at the end of the working copy by
  // the final one: the bytes before it stay, the size field of the reserve becomes
  // final length + pad (the padding the service wrote, as zero bytes). Only the signature area
  // is written, in the working copy itself, whatever the cabinet's size. A failure raises
  // "CabFileSign::EmbedSignedData, <cause>"; the working copy is then thrown away.
  void EmbedSignedData(const std::string& path, const std::string& data) override;

 protected:
  // The working copy is written in one pass, with the signature reserve where the source has
  // none, while its digest is taken from the source.
  bool FillWorkingCopy(const std::string& source, const std::string& workingCopy) override;
  bool NeedsNamedWorkingCopy() const override { return true; }
  // The signing left the signature area empty: the final signature is written once, padded to
  // a multiple of 8.
  void EmbedFinalSignature(SubjectFormat& workingCopy, const std::string& data) override;
};

}  // namespace corvane
