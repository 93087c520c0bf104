#include "zorvat/pfx_make.h"

#include "zorvat/cert_load.h"

namespace corvane::zorvat {

bool MakePfx(std::string& pfxOut, const std::string& pfxPassword, const Source& certSource,
             const std::string& keyPath, const std::string& keyPassword, std::string& errorText) {
  X509Ptr cert = LoadCert(certSource, "", errorText);
  if (!cert) {
    errorText = "加载公钥文件失败";
    return false;
  }
  EvpPkeyPtr key = LoadPrivateKey(keyPath, keyPassword, errorText);
  if (!key) {
    errorText = "加载私钥文件失败";
    return false;
  }
  EnsureOpenSslProviders();
  // PKCS12_create checks that the key belongs to the certificate.
  Pkcs12Ptr p12(
      PKCS12_create(pfxPassword.c_str(), "", key.get(), cert.get(), nullptr, 0, 0, 0, 0, 0));
  BioPtr bio(BIO_new(BIO_s_mem()));
  BUF_MEM* mem = nullptr;
  if (!p12 || !bio || i2d_PKCS12_bio(bio.get(), p12.get()) != 1 ||
      BIO_get_mem_ptr(bio.get(), &mem) != 1 || !mem) {
    errorText = "创建p12结构失败";
    return false;
  }
  pfxOut.assign(mem->data, mem->length);
  return true;
}

}  // namespace corvane::zorvat
