// Reading what a certificate says about itself: names, serial, key identifiers, usages.
#pragma once

#include <openssl/x509.h>

#include <optional>
#include <string>
#include <vector>

namespace corvane {

// The name a person knows a certificate by: common name, else organisational unit, else
// organisation, else e-mail address, else the first attribute of the name.
std::string SimpleDisplayName(const X509_NAME* name);
std::string SubjectDisplayName(const X509* cert);
std::string IssuerDisplayName(const X509* cert);

// Serial number in lower-case hex, two digits a byte, most significant first, with the
// leading zero byte of the encoding kept ("00ab…" for a serial whose top bit is set).
std::string SerialHex(const X509* cert);

// DER encoding of the certificate.
std::string CertDer(const X509* cert);

// SHA-1 thumbprint in upper-case hex.
std::string Thumbprint(const X509* cert);

// The subject key identifier, the key identifier of the authority key identifier, and the
// first CA-issuers URL of the authority-information-access extension, when present. An
// empty string in the optional means the entry is there but empty.
std::optional<std::string> SubjectKeyId(const X509* cert);
std::optional<std::string> AuthorityKeyId(const X509* cert);
std::optional<std::string> CaIssuersUrl(const X509* cert);

// Validity as "YYYY-MM-DD hh:mm:ss UTC".
std::string NotBeforeText(const X509* cert);
std::string NotAfterText(const X509* cert);

}  // namespace corvane
