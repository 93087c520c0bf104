// PKCS #10 certificate requests: an RSA key made in memory, or a key held elsewhere, and a
// request for a subject given attribute by attribute.
#pragma once

#include <string>
#include <vector>

#include "crypto/openssl_ptr.h"

namespace corvane::zorvat {

// One attribute of the requested subject. The key is an OpenSSL short or long name ("CN",
// "O", "C", "emailAddress") or a dotted object identifier; the value is UTF-8 text. An empty
// value leaves the attribute out. The list order is the order of the subject's RDNs.
struct SubjectEntry {
  std::string key;
  std::string value;
};

// Smallest modulus the module makes; smaller requests are raised to it.
inline constexpr int kMinRsaBits = 512;

// A new RSA key with public exponent 65537, or null.
EvpPkeyPtr GenerateRsaKey(int bits);

// The request for `entries`, with an empty extension request, signed with `key` and SHA-1,
// in PEM form ("CERTIFICATE REQUEST"). Works with any key OpenSSL can sign with, wherever it
// is held. False with "Make CertReq Error" or "Save Cert or Key File Error" in errorText.
bool MakeCertReqWithKey(const std::vector<SubjectEntry>& entries, EVP_PKEY* key,
                        std::string& csrPem, std::string& errorText);

// The key as unencrypted PKCS #8 PEM ("PRIVATE KEY"). False with "Save Cert or Key File Error".
bool PrivateKeyPem(EVP_PKEY* key, std::string& keyPem, std::string& errorText);

// A new RSA key of keyBits and its request. The key comes back as unencrypted PKCS #8 PEM
// ("PRIVATE KEY").
bool MakeCertReq(const std::vector<SubjectEntry>& entries, int keyBits, std::string& csrPem,
                 std::string& keyPem, std::string& errorText);

}  // namespace corvane::zorvat
