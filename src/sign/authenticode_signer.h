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

class SubjectFormat;

struct SignerCertificate {
  X509* certificate = nullptr;
  EVP_PKEY* key = nullptr;
  // With the add-chain policy: further certificates to carry (issuers, in order).
  std::vector<X509*> chain;
  bool addChain = false;
};

// Who puts a fresh signature into the file: the signing (and the timestamp step after it),
// or only the caller's embedder, which writes the whole final signature whatever the file
// held before, so that the file is written once.
enum class SignatureWrite { IntoFile, ByEmbedder };

// Signs the file in place. On success `signature` holds the DER made for it, which is written
// into the file unless `write` leaves that to the embedder.
std::uint32_t SignerSignEx(SubjectFormat& file, const SignerCertificate& signer,
                           HashAlgorithm algorithm, std::string& signature,
                           SignatureWrite write = SignatureWrite::IntoFile);
// The same for the file at `path`, opened for this signing.
std::uint32_t SignerSignEx(const std::string& path, const SignerCertificate& signer,
                           HashAlgorithm algorithm, std::string& signature,
                           SignatureWrite write = SignatureWrite::IntoFile);

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
