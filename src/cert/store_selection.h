// What the store's certificate selection and certificate viewer show, without the windows:
// the certificates a signer may choose and the details of one certificate.
#pragma once

#include <string>
#include <vector>

#include "cert/cert_identity.h"
#include "cert/key_store.h"

namespace corvane {

// Listed only when, tested in this order: not expired, its private key is present, it has
// basic constraints that do not make it a CA, and its extended key usage lists code signing.
// A failure while testing leaves it out.
bool PassesSelectionFilter(const X509* cert, bool keyPresent);

struct StoreCertEntry {
  CertIdentity identity;
  std::string token;  // label of the token holding it
  std::string uri;
};

// The selectable certificates of every token, in token and object order.
std::vector<StoreCertEntry> SelectableCertificates(KeyStore& store);

struct CertificateDetails {
  std::string subject;  // the whole name, "CN=…, O=…"
  std::string issuer;
  std::string subjectName;  // simple display names
  std::string issuerName;
  std::string serialHex;
  std::string notBefore;  // "YYYY-MM-DD hh:mm:ss UTC"
  std::string notAfter;
  std::vector<std::string> usages;  // key usages, then extended key usages
  std::string thumbprint;           // SHA-1, upper-case hex
};

CertificateDetails ShowCertificateData(const X509* cert);

// The whole name, most significant attribute last as it is written: "CN=…, O=…, C=…".
std::string NameText(const X509_NAME* name);

}  // namespace corvane
