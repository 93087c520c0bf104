#include "crypto/x509_names.h"

#include <openssl/asn1.h>
#include <openssl/sha.h>
#include <openssl/x509v3.h>

#include <ctime>

#include "crypto/openssl_ptr.h"

namespace corvane {
namespace {

std::string EntryText(const X509_NAME_ENTRY* entry) {
  unsigned char* utf8 = nullptr;
  int n = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(entry));
  if (n < 0) return {};
  std::string text(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(n));
  OPENSSL_free(utf8);
  return text;
}

std::string Hex(const unsigned char* data, std::size_t size, const char* digits) {
  std::string out;
  out.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    out.push_back(digits[data[i] >> 4]);
    out.push_back(digits[data[i] & 0x0F]);
  }
  return out;
}

std::string OctetString(const ASN1_OCTET_STRING* s) {
  return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(s)),
                     static_cast<std::size_t>(ASN1_STRING_length(s)));
}

std::string TimeText(const ASN1_TIME* t) {
  std::tm tm{};
  if (!t || ASN1_TIME_to_tm(t, &tm) != 1) return {};
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S UTC", &tm);
  return buffer;
}

}  // namespace

std::string SimpleDisplayName(const X509_NAME* name) {
  if (!name) return {};
  for (int nid :
       {NID_commonName, NID_organizationalUnitName, NID_organizationName, NID_pkcs9_emailAddress}) {
    int index = X509_NAME_get_index_by_NID(name, nid, -1);
    if (index >= 0) return EntryText(X509_NAME_get_entry(name, index));
  }
  if (X509_NAME_entry_count(name) > 0) return EntryText(X509_NAME_get_entry(name, 0));
  return {};
}

std::string SubjectDisplayName(const X509* cert) {
  return SimpleDisplayName(X509_get_subject_name(cert));
}

std::string IssuerDisplayName(const X509* cert) {
  return SimpleDisplayName(X509_get_issuer_name(cert));
}

std::string SerialHex(const X509* cert) {
  const ASN1_INTEGER* serial = X509_get0_serialNumber(cert);
  unsigned char* der = nullptr;
  int n = i2d_ASN1_INTEGER(serial, &der);
  if (n <= 2) {
    OPENSSL_free(der);
    return {};
  }
  // Skip the tag and the (short or long form) length; the content keeps its sign byte.
  std::size_t offset = 2;
  if (der[1] & 0x80) offset += der[1] & 0x7F;
  std::string hex;
  if (offset < static_cast<std::size_t>(n))
    hex = Hex(der + offset, static_cast<std::size_t>(n) - offset, "0123456789abcdef");
  OPENSSL_free(der);
  return hex;
}

std::string CertDer(const X509* cert) {
  unsigned char* der = nullptr;
  int n = i2d_X509(cert, &der);
  if (n <= 0) return {};
  std::string bytes(reinterpret_cast<char*>(der), static_cast<std::size_t>(n));
  OPENSSL_free(der);
  return bytes;
}

std::string Thumbprint(const X509* cert) {
  std::string der = CertDer(cert);
  unsigned char digest[SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const unsigned char*>(der.data()), der.size(), digest);
  return Hex(digest, sizeof digest, "0123456789ABCDEF");
}

std::optional<std::string> SubjectKeyId(const X509* cert) {
  const ASN1_OCTET_STRING* id = X509_get0_subject_key_id(const_cast<X509*>(cert));
  if (!id) return std::nullopt;
  return OctetString(id);
}

std::optional<std::string> AuthorityKeyId(const X509* cert) {
  const ASN1_OCTET_STRING* id = X509_get0_authority_key_id(const_cast<X509*>(cert));
  if (!id) return std::nullopt;
  return OctetString(id);
}

std::optional<std::string> CaIssuersUrl(const X509* cert) {
  auto* access = static_cast<AUTHORITY_INFO_ACCESS*>(
      X509_get_ext_d2i(cert, NID_info_access, nullptr, nullptr));
  if (!access) return std::nullopt;
  std::optional<std::string> url;
  for (int i = 0; i < sk_ACCESS_DESCRIPTION_num(access) && !url; ++i) {
    const ACCESS_DESCRIPTION* ad = sk_ACCESS_DESCRIPTION_value(access, i);
    if (OBJ_obj2nid(ad->method) != NID_ad_ca_issuers || ad->location->type != GEN_URI) continue;
    const ASN1_IA5STRING* uri = ad->location->d.uniformResourceIdentifier;
    url = std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(uri)),
                      static_cast<std::size_t>(ASN1_STRING_length(uri)));
  }
  AUTHORITY_INFO_ACCESS_free(access);
  return url;
}

std::string NotBeforeText(const X509* cert) { return TimeText(X509_get0_notBefore(cert)); }
std::string NotAfterText(const X509* cert) { return TimeText(X509_get0_notAfter(cert)); }

}  // namespace corvane
