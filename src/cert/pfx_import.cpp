#include "cert/pfx_import.h"

#include <openssl/pkcs12.h>

#include "base/status.h"
#include "crypto/cert_decode.h"

namespace corvane {
namespace {

using SafeBagStack = STACK_OF(PKCS12_SAFEBAG);

struct BagsFree {
  void operator()(SafeBagStack* bags) const {
    sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
  }
};
struct AuthSafesFree {
  void operator()(STACK_OF(PKCS7) * safes) const { sk_PKCS7_pop_free(safes, PKCS7_free); }
};

struct Password {
  const char* text;
  int length;
};

void TakeBags(const SafeBagStack* bags, const Password& pass, PfxStore& store) {
  for (int i = 0; i < sk_PKCS12_SAFEBAG_num(bags); ++i) {
    const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags, i);
    switch (PKCS12_SAFEBAG_get_nid(bag)) {
      case NID_keyBag:
        if (EVP_PKEY* key = EVP_PKCS82PKEY(PKCS12_SAFEBAG_get0_p8inf(bag)))
          store.keys.emplace_back(key);
        break;
      case NID_pkcs8ShroudedKeyBag: {
        Pkcs8Ptr p8(PKCS12_decrypt_skey(bag, pass.text, pass.length));
        if (!p8) RaiseStatus(StatusCode::Undefined);
        if (EVP_PKEY* key = EVP_PKCS82PKEY(p8.get())) store.keys.emplace_back(key);
        break;
      }
      case NID_certBag:
        if (PKCS12_SAFEBAG_get_bag_nid(bag) == NID_x509Certificate)
          if (X509* cert = PKCS12_SAFEBAG_get1_cert(bag)) store.certificates.emplace_back(cert);
        break;
      case NID_safeContentsBag:
        TakeBags(PKCS12_SAFEBAG_get0_safes(bag), pass, store);
        break;
      default:
        break;
    }
  }
}

PfxStore Open(PKCS12* p12, const Password& pass) {
  std::unique_ptr<STACK_OF(PKCS7), AuthSafesFree> safes(PKCS12_unpack_authsafes(p12));
  if (!safes) RaiseStatus(StatusCode::Undefined);
  PfxStore store;
  for (int i = 0; i < sk_PKCS7_num(safes.get()); ++i) {
    PKCS7* safe = sk_PKCS7_value(safes.get(), i);
    std::unique_ptr<SafeBagStack, BagsFree> bags;
    int nid = OBJ_obj2nid(safe->type);
    if (nid == NID_pkcs7_data)
      bags.reset(PKCS12_unpack_p7data(safe));
    else if (nid == NID_pkcs7_encrypted)
      bags.reset(PKCS12_unpack_p7encdata(safe, pass.text, pass.length));
    else
      continue;
    if (!bags) RaiseStatus(StatusCode::Undefined);
    TakeBags(bags.get(), pass, store);
  }
  return store;
}

}  // namespace

PfxStore ImportPfxBytes(const std::string& bytes, const std::string& password) {
  EnsureOpenSslProviders();
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  Pkcs12Ptr p12(d2i_PKCS12(nullptr, &p, static_cast<long>(bytes.size())));
  if (!p12) RaiseStatus(StatusCode::Undefined);

  // An empty password may have been written as an empty text or as no password at all.
  std::vector<Password> candidates{{password.c_str(), static_cast<int>(password.size())}};
  if (password.empty()) candidates.push_back({nullptr, 0});
  for (const Password& pass : candidates) {
    if (PKCS12_mac_present(p12.get()) && !PKCS12_verify_mac(p12.get(), pass.text, pass.length))
      continue;
    try {
      return Open(p12.get(), pass);
    } catch (const std::exception&) {
      // A file without a MAC tells a wrong password only by failing to decrypt.
    }
  }
  RaiseStatus(StatusCode::Undefined);
}

PfxStore ImportPfx(const std::string& path, const std::string& password) {
  std::string bytes;
  try {
    bytes = ReadWholeFile(path);
  } catch (const CryptoError&) {
    RaiseStatus(StatusCode::Undefined);
  }
  return ImportPfxBytes(bytes, password);
}

bool KeySignsForCertificate(X509* cert, EVP_PKEY* key) {
  if (!cert || !key || X509_check_private_key(cert, key) != 1) return false;
  static const unsigned char kProbe[4] = {0, 0, 0, 0};
  EvpMdCtxPtr ctx(EVP_MD_CTX_new());
  std::size_t size = 0;
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha1(), nullptr, key) != 1 ||
      EVP_DigestSign(ctx.get(), nullptr, &size, kProbe, sizeof kProbe) != 1)
    return false;
  std::string signature(size, '\0');
  if (EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(signature.data()), &size, kProbe,
                     sizeof kProbe) != 1)
    return false;
  EvpMdCtxPtr verify(EVP_MD_CTX_new());
  EVP_PKEY* publicKey = X509_get0_pubkey(cert);
  return verify && publicKey &&
         EVP_DigestVerifyInit(verify.get(), nullptr, EVP_sha1(), nullptr, publicKey) == 1 &&
         EVP_DigestVerify(verify.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                          size, kProbe, sizeof kProbe) == 1;
}

SigningPair FindSigningCertInPfx(const PfxStore& store) {
  for (const X509Ptr& cert : store.certificates)
    for (const EvpPkeyPtr& key : store.keys)
      if (KeySignsForCertificate(cert.get(), key.get())) return {cert.get(), key.get()};
  RaiseStatus(StatusCode::Undefined);
}

}  // namespace corvane
