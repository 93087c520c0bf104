// How a certificate of the user's store is named between the selection, the window and
// CertManager. A certificate is found again by issuerName and serialHex only.
#pragma once

#include <string>

namespace corvane {

struct CertIdentity {
  std::string subjectName;  // simple display name of the subject
  std::string issuerName;   // simple display name of the issuer
  std::string serialHex;    // lower-case hex, leading zero bytes kept

  bool empty() const { return subjectName.empty() && issuerName.empty() && serialHex.empty(); }
};

}  // namespace corvane
