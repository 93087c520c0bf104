// Recognising the authority's own hierarchy: whether a certificate hangs under root A
// ("Certification Authority of Corvane") or root B ("CA 柯文根证书").
#pragma once

#include <openssl/x509.h>

#include "cert/chain.h"

namespace corvane {

inline constexpr char kRootAName[] = "Certification Authority of Corvane";
inline constexpr char kRootBName[] = "CA 柯文根证书";

struct OwnCaFlags {
  bool ownCaIssued = false;
  bool chineseNamedRoot = false;
};

// With a chain: the first entry named like one of the two roots decides by its subject key
// identifier; the name of the last entry decides chineseNamedRoot. Without a chain: the
// signing certificate's authority key identifier against the seven issuing authorities, and
// its own subject name. Raises "undefined" when a needed key identifier is missing or a
// chain entry does not decode.
OwnCaFlags RecognizeOwnCa(const ChainList& chain, const X509* signingCert);

}  // namespace corvane
