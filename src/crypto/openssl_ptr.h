// Owning handles for OpenSSL objects: every object is freed on every path.
#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <string>
#include <string_view>

namespace corvane {

template <typename T, void (*Free)(T*)>
struct OpenSslDeleter {
  void operator()(T* p) const { Free(p); }
};

using X509Ptr = std::unique_ptr<X509, OpenSslDeleter<X509, X509_free>>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, OpenSslDeleter<EVP_PKEY, EVP_PKEY_free>>;
using BioPtr = std::unique_ptr<BIO, OpenSslDeleter<BIO, BIO_free_all>>;
using Pkcs12Ptr = std::unique_ptr<PKCS12, OpenSslDeleter<PKCS12, PKCS12_free>>;
using Pkcs7Ptr = std::unique_ptr<PKCS7, OpenSslDeleter<PKCS7, PKCS7_free>>;
using Pkcs8Ptr = std::unique_ptr<PKCS8_PRIV_KEY_INFO,
                                 OpenSslDeleter<PKCS8_PRIV_KEY_INFO, PKCS8_PRIV_KEY_INFO_free>>;
using EvpMdCtxPtr = std::unique_ptr<EVP_MD_CTX, OpenSslDeleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using X509ExtensionPtr =
    std::unique_ptr<X509_EXTENSION, OpenSslDeleter<X509_EXTENSION, X509_EXTENSION_free>>;

inline X509Ptr UpRef(X509* cert) {
  if (cert) X509_up_ref(cert);
  return X509Ptr(cert);
}

inline EvpPkeyPtr UpRef(EVP_PKEY* key) {
  if (key) EVP_PKEY_up_ref(key);
  return EvpPkeyPtr(key);
}

// Loads the default and the legacy provider once, so that old PFX files (RC2, 3DES) open.
void EnsureOpenSslProviders();

}  // namespace corvane
