// Our signing service: makes the Authenticode signature of a file of a known format with a
// certificate and its key, writes it into the file and hands back the message exactly as
// written. Failures come back as the platform's result codes (sign_result.h).
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sign/hash_algorithm.h"

namespace corvane {

struct SignerCertificate {
  X509* certificate = nullptr;
  EVP_PKEY* key = nullptr;
  // With the add-chain policy: further certificates to carry (issuers, in order).
  std::vector<X509*> chain;
  bool addChain = false;
};

// Signs the file at `path` in place. On success `signature` holds the DER written into it.
std::uint32_t SignerSignEx(const std::string& path, const SignerCertificate& signer,
                           HashAlgorithm algorithm, std::string& signature);

// Builds the Authenticode SignedData (no file involved) over `content`, the DER of the
// encapsulated content, whose object identifier is `contentType`: indirect data, or a
// catalog's certificate trust list. Returns a result code like SignerSignEx.
std::uint32_t BuildSignedContent(const char* contentType, const std::string& content,
                                 const SignerCertificate& signer, HashAlgorithm algorithm,
                                 std::string& signature);

// Algorithm identifier of the key's signature for `algorithm` (rsaEncryption for RSA keys,
// ecdsa-with-SHAxxx for EC keys), DER.
std::string SignatureAlgorithmDer(EVP_PKEY* key, HashAlgorithm algorithm);

}  // namespace corvane
