#include "cert/store_selection.h"

#include <openssl/x509v3.h>

#include "cert/cert_checks.h"
#include "crypto/openssl_ptr.h"
#include "crypto/x509_names.h"

namespace corvane {
namespace {

void KeyUsages(const X509* cert, std::vector<std::string>& out) {
  static const struct {
    int bit;
    const char* name;
  } kBits[] = {{0, "Digital Signature"}, {1, "Non-Repudiation"}, {2, "Key Encipherment"},
               {3, "Data Encipherment"}, {4, "Key Agreement"},   {5, "Certificate Signing"},
               {6, "CRL Signing"},       {7, "Encipher Only"},   {8, "Decipher Only"}};
  auto* bits =
      static_cast<ASN1_BIT_STRING*>(X509_get_ext_d2i(cert, NID_key_usage, nullptr, nullptr));
  if (!bits) return;
  for (const auto& b : kBits)
    if (ASN1_BIT_STRING_get_bit(bits, b.bit)) out.push_back(b.name);
  ASN1_BIT_STRING_free(bits);
}

void ExtendedKeyUsages(const X509* cert, std::vector<std::string>& out) {
  auto* usages =
      static_cast<EXTENDED_KEY_USAGE*>(X509_get_ext_d2i(cert, NID_ext_key_usage, nullptr, nullptr));
  if (!usages) return;
  for (int i = 0; i < sk_ASN1_OBJECT_num(usages); ++i) {
    const ASN1_OBJECT* oid = sk_ASN1_OBJECT_value(usages, i);
    char dotted[128] = {};
    OBJ_obj2txt(dotted, sizeof dotted, oid, 1);
    int nid = OBJ_obj2nid(oid);
    std::string text =
        nid != NID_undef ? std::string(OBJ_nid2ln(nid)) + " (" + dotted + ")" : std::string(dotted);
    out.push_back(text);
  }
  EXTENDED_KEY_USAGE_free(usages);
}

}  // namespace

bool PassesSelectionFilter(const X509* cert, bool keyPresent) {
  try {
    if (!cert || IsPastNotAfter(X509_get0_notAfter(cert))) return false;
    if (!keyPresent) return false;
    if (IsCaCertificate(cert)) return false;  // raises without basic constraints
    return HasCodeSigningUsage(cert);
  } catch (const std::exception&) {
    return false;
  }
}

std::vector<StoreCertEntry> SelectableCertificates(KeyStore& store) {
  std::vector<StoreCertEntry> list;
  // Listing logs in to no token: the PIN is asked when a certificate is used.
  for (const TokenCertificate* cert : store.PublicCertificates()) {
    if (!PassesSelectionFilter(cert->certificate, cert->keyOnToken)) continue;
    list.push_back({{SubjectDisplayName(cert->certificate), IssuerDisplayName(cert->certificate),
                     SerialHex(cert->certificate)},
                    store.Tokens()[cert->token].label,
                    cert->uri});
  }
  return list;
}

std::string NameText(const X509_NAME* name) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  const unsigned long flags =
      ((XN_FLAG_RFC2253 & ~XN_FLAG_SEP_MASK) | XN_FLAG_SEP_CPLUS_SPC) & ~ASN1_STRFLGS_ESC_MSB;
  X509_NAME_print_ex(bio.get(), name, 0, flags);
  char* data = nullptr;
  long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(size > 0 ? size : 0));
}

CertificateDetails ShowCertificateData(const X509* cert) {
  CertificateDetails d;
  d.subject = NameText(X509_get_subject_name(cert));
  d.issuer = NameText(X509_get_issuer_name(cert));
  d.subjectName = SubjectDisplayName(cert);
  d.issuerName = IssuerDisplayName(cert);
  d.serialHex = SerialHex(cert);
  d.notBefore = NotBeforeText(cert);
  d.notAfter = NotAfterText(cert);
  KeyUsages(cert, d.usages);
  ExtendedKeyUsages(cert, d.usages);
  d.thumbprint = Thumbprint(cert);
  return d;
}

}  // namespace corvane
