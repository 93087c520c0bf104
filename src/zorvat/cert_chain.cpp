#include "zorvat/cert_chain.h"

#include <openssl/objects.h>
#include <openssl/pem.h>

#include "zorvat/cert_load.h"

namespace corvane::zorvat {

bool SameSerial(const Source& first, const Source& second, bool& bothLoaded) {
  std::string errorText;
  X509Ptr a = LoadCert(first, "", errorText);
  X509Ptr b = LoadCert(second, "", errorText);
  bothLoaded = a && b;
  if (!bothLoaded) return false;
  return ASN1_INTEGER_cmp(X509_get0_serialNumber(a.get()), X509_get0_serialNumber(b.get())) == 0;
}

bool MakeCertChain(const std::vector<std::string>& upperPaths, const Source& userSource,
                   std::string& pemOut, std::string& errorText) {
  Pkcs7Ptr p7(PKCS7_new());
  if (!p7 || PKCS7_set_type(p7.get(), NID_pkcs7_signed) != 1 ||
      PKCS7_content_new(p7.get(), NID_pkcs7_data) != 1) {
    errorText = "Make PKCS7 Error";
    return false;
  }
  // PKCS7_set_type gives version 1 and empty digest-algorithm and signer sets; the inner
  // data content type carries no content.
  PKCS7_set_detached(p7.get(), 1);
  std::vector<X509Ptr> certs;
  for (const std::string& path : upperPaths) {
    X509Ptr cert = LoadCert(Source::File(path), "", errorText);
    if (!cert) return false;
    certs.push_back(std::move(cert));
  }
  X509Ptr user = LoadCert(userSource, "", errorText);
  if (!user) return false;
  certs.push_back(std::move(user));
  for (const X509Ptr& cert : certs) {
    if (PKCS7_add_certificate(p7.get(), cert.get()) != 1) {
      errorText = "Add certificate Error";
      return false;
    }
  }
  // The empty CRL list is written as such: a SignedData with an explicit empty set.
  PKCS7_SIGNED* sd = p7->d.sign;
  if (!sd->crl) sd->crl = sk_X509_CRL_new_null();
  BioPtr bio(BIO_new(BIO_s_mem()));
  BUF_MEM* mem = nullptr;
  if (!sd->crl || !bio || PEM_write_bio_PKCS7(bio.get(), p7.get()) != 1 ||
      BIO_get_mem_ptr(bio.get(), &mem) != 1 || !mem) {
    errorText = "Write PKCS7 Error";
    return false;
  }
  pemOut.assign(mem->data, mem->length);
  return true;
}

}  // namespace corvane::zorvat
