// Certificates-only PKCS #7 (SPC) files: the issuing certificates and the user's certificate
// in one SignedData structure, PEM-armoured.
#pragma once

#include <string>
#include <vector>

#include "zorvat/zorvat_source.h"

namespace corvane::zorvat {

// True when both load and their serial numbers are equal; bothLoaded says whether both did.
bool SameSerial(const Source& first, const Source& second, bool& bothLoaded);

// The PEM text ("PKCS7") of a SignedData (version 1, data content without content, no
// digest algorithms, no signers, no CRLs) holding the upper certificates in the order given,
// then the user's certificate. False with the reason in errorText.
bool MakeCertChain(const std::vector<std::string>& upperPaths, const Source& userSource,
                   std::string& pemOut, std::string& errorText);

}  // namespace corvane::zorvat
