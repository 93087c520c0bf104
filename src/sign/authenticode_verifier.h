// Our trust check of Authenticode signatures, applied as the generic policy does: the file's
// digest, the signer's signature, its code-signing usage and its chain to a trusted root,
// with a valid timestamp letting a signature made while the certificate was valid stay good
// after the certificate expires. Nested signatures are checked the same way and reported,
// but only the primary signature decides.
#pragma once

#include <openssl/x509_vfy.h>

#include <ctime>
#include <string>
#include <vector>

namespace corvane {

struct SignatureReport {
  bool valid = false;
  std::string signerSubject;
  std::string signerIssuer;
  std::string digestAlgorithm;  // "sha256", ...
  bool timestamped = false;
  bool rfc3161 = false;
  std::time_t timestamp = 0;
  bool pageHashes = false;            // it carries page hashes (checked like the digest)
  std::vector<std::string> problems;  // why it is not valid
};

struct VerifyReport {
  bool trusted = false;
  bool signedFile = false;
  SignatureReport primary;
  std::vector<SignatureReport> nested;
};

// With the default trust store (trust_store.h). Never throws.
VerifyReport VerifyTrust(const std::string& path);
VerifyReport VerifyTrust(const std::string& path, X509_STORE* trust);

// The trust locations VerifyTrust(path) uses from now on (empty: the defaults).
void SetTrustLocations(const std::vector<std::string>& locations);

}  // namespace corvane
