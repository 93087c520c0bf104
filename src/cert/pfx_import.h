// Opening a PFX (PKCS #12) file: its certificates in file order and its private keys.
#pragma once

#include <string>
#include <vector>

#include "crypto/openssl_ptr.h"

namespace corvane {

// What an imported PFX holds. It stays alive while its signing certificate is in use.
struct PfxStore {
  std::vector<X509Ptr> certificates;  // in the order of the file's bags
  std::vector<EvpPkeyPtr> keys;
};

// Reads and decrypts a PFX file; the password is UTF-8 text as typed (an empty password
// also opens files made with no password at all). Raises "undefined" when the file cannot be
// read, the password is wrong or the file is no PFX.
PfxStore ImportPfx(const std::string& path, const std::string& password);
PfxStore ImportPfxBytes(const std::string& bytes, const std::string& password);

// A certificate able to sign, with its key.
struct SigningPair {
  X509* certificate = nullptr;  // owned by the PfxStore
  EVP_PKEY* key = nullptr;      // owned by the PfxStore
};

// The first certificate, in file order, whose private key is present and makes a signature
// (a SHA-1 signature over four zero bytes). Raises "undefined" when none can sign.
SigningPair FindSigningCertInPfx(const PfxStore& store);

// True when `key` makes a signature that `cert`'s public key accepts.
bool KeySignsForCertificate(X509* cert, EVP_PKEY* key);

}  // namespace corvane
