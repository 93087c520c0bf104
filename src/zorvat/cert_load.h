// Loading the certificates and private keys the certificate tools join: certificates as DER,
// PEM or PKCS #12; keys as DER (plain, or in the DES-EDE3-CBC scheme some existing key files
// use), PEM (plain or encrypted) or PKCS #12.
#pragma once

#include <string>

#include "crypto/openssl_ptr.h"
#include "zorvat/zorvat_source.h"

namespace corvane::zorvat {

// The certificate, or null with "unable to load certificate\n" (or the source's reason) in
// errorText; errorText is emptied on success. The password opens a PKCS #12 source.
X509Ptr LoadCert(const Source& source, const std::string& pkcs12Password, std::string& errorText);

// The private key of the file, or null with the reason in errorText (emptied on success).
// A non-empty password first decrypts the file as DER in the DES-EDE3-CBC scheme (key and IV
// from EVP_BytesToKey, SHA-1, no salt, one iteration); an empty one reads plain DER. Then PEM
// with the password as passphrase, then PKCS #12 with the password.
EvpPkeyPtr LoadPrivateKey(const std::string& path, const std::string& password,
                          std::string& errorText);

// The same key forms, from bytes already read.
EvpPkeyPtr PrivateKeyFromBytes(const std::string& bytes, const std::string& password,
                               std::string& errorText);

// True when the source holds a certificate that LoadCert reads without a password.
bool IsCert(const Source& source);

// The scheme's encryption, for writing such files (tests, conversions). Empty on failure.
std::string EncryptDerKeyScheme(const std::string& der, const std::string& password);

}  // namespace corvane::zorvat
