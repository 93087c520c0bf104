// The user's certificate store as CertManager sees it: certificates with usable private
// keys, found by issuer simple display name and serial number.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "crypto/openssl_ptr.h"

namespace corvane {

struct StoreCertificate {
  X509Ptr certificate;
  EvpPkeyPtr key;  // a handle the store signs with; the key itself may never leave it
};

class CertStore {
 public:
  virtual ~CertStore() = default;
  // The first certificate of store `storeName` whose serial and issuer name match.
  virtual std::optional<StoreCertificate> FindStoreCert(const std::string& storeName,
                                                        const std::string& issuerName,
                                                        const std::string& serialHex) = 0;
  // Certificates of the store that chains may be built from (its issuers among them).
  virtual std::vector<X509Ptr> ChainCertificates() { return {}; }
};

}  // namespace corvane
