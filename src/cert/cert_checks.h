// The questions asked of a signing certificate before a run.
#pragma once

#include <openssl/x509.h>

#include <ctime>

namespace corvane {

// True when `now` is strictly later than the end of validity, to the second. The start of
// validity is never tested.
bool IsPastNotAfter(const ASN1_TIME* notAfter, std::time_t now);
bool IsPastNotAfter(const ASN1_TIME* notAfter);

// True when the enhanced key usage lists code signing (1.3.6.1.5.5.7.3.3). A certificate
// without the extension is valid for every use and still gives false. Never raises.
bool HasCodeSigningUsage(const X509* cert);

// The CA flag of the basic constraints; raises "undefined" when the extension is missing.
bool IsCaCertificate(const X509* cert);

}  // namespace corvane
