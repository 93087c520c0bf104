// Installing certificates the way an import wizard does: read a file or pasted text (an
// X.509 certificate, a PKCS #7 bundle or a PKCS #12 file), say where each certificate would
// go, and after the user's confirmation place it: a certificate whose private key is on a
// token onto that token beside its key, a root into the user's trust store, any other CA
// certificate into the user's intermediate store.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "cert/key_store.h"
#include "crypto/openssl_ptr.h"

namespace corvane {

// Every certificate of the input, in its order: PEM (several blocks), DER or bare base64 of
// a certificate, a PKCS #7 certificate bundle in DER, PEM or base64, or a PKCS #12 file that
// opens with `pkcs12Password`. Raises "undefined" when it holds none.
std::vector<X509Ptr> CertificatesFromInput(std::string_view bytes,
                                           const std::string& pkcs12Password = "");

// Whether the bytes are a PKCS #7 signed message (a certificate bundle, an SPC file, a
// signature) in DER, PEM or bare base64.
bool IsPkcs7SignedMessage(std::string_view bytes);

// Pasted text as it is decoded: a bare CR becomes CR LF, white space at both ends goes.
std::string NormalizePastedText(std::string text);

enum class InstallTarget { Token, Trust, Intermediate, Nowhere };

struct InstallItem {
  X509Ptr certificate;
  InstallTarget target = InstallTarget::Nowhere;
  std::size_t token = 0;  // Token: where its key is
  std::string keyId;      // Token: the key's CKA_ID, given to the certificate too
  std::string path;       // Trust, Intermediate: the file it is written to
  bool alreadyThere = false;
  std::string description;  // "<subject>: <where>" for the confirmation
};

// Where each certificate would go; `store` may be null (no tokens).
std::vector<InstallItem> PlanInstall(std::vector<X509Ptr> certificates, KeyStore* store);

// The two installers' plans: a file, and pasted text (normalised first). Raise "undefined"
// when the file cannot be read or neither holds a certificate.
std::vector<InstallItem> PlanInstallFromFile(const std::string& path, KeyStore* store);
std::vector<InstallItem> PlanInstallFromText(const std::string& text, KeyStore* store);

// Asks `confirm` with the plan; on yes places every item not already there and returns true.
// Raises "undefined" when a certificate cannot be placed (what was placed before stays).
bool InstallCertificates(std::vector<InstallItem>& plan, KeyStore* store,
                         const std::function<bool(const std::vector<InstallItem>&)>& confirm);

}  // namespace corvane
