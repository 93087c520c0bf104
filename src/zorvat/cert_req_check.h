// Reading and checking PKCS #10 requests: PEM (either armour) or DER, the signature checked
// against the request's own key, and the parts the CSR tab shows.
#pragma once

#include <openssl/x509.h>

#include <memory>
#include <string>

#include "crypto/openssl_ptr.h"
#include "zorvat/zorvat_source.h"

namespace corvane::zorvat {

using X509ReqPtr = std::unique_ptr<X509_REQ, OpenSslDeleter<X509_REQ, X509_REQ_free>>;

struct CertReqInfo {
  unsigned version = 0;            // 0 for a standard request
  std::string subject;             // as FormatSubject renders it, UTF-8
  std::string keyAlgorithm;        // "RSA", "DSA", or empty for other key types
  int keyBits = 0;                 // 0 for other key types
  std::string signatureAlgorithm;  // e.g. "sha1WithRSAEncryption", or the dotted number
};

// The request, or null with the reason in errorText.
X509ReqPtr LoadCertReq(const Source& source, std::string& errorText);

// Loads the request, verifies its signature with its own key and describes it. False with
// the reason in errorText.
bool CheckCertReq(const Source& source, CertReqInfo& info, std::string& errorText);

// Appends one line per attribute, last attribute first: "<short name>=<value> \r\n", the value
// as UTF-8. False when a value cannot be converted.
bool FormatSubject(const X509_NAME* name, std::string& out);

}  // namespace corvane::zorvat
