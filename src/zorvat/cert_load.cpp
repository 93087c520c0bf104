#include "zorvat/cert_load.h"

#include <openssl/pem.h>

#include <climits>
#include <cstdio>

namespace corvane::zorvat {
namespace {

constexpr char kCertLoadError[] = "unable to load certificate\n";
constexpr char kKeyLoadError[] = "unable to load Private Key\n";

BioPtr MemoryBio(const std::string& bytes) {
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return nullptr;
  return BioPtr(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
}

X509Ptr CertFromDer(const std::string& bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  return X509Ptr(d2i_X509(nullptr, &p, static_cast<long>(bytes.size())));
}

Pkcs12Ptr Pkcs12FromBytes(const std::string& bytes) {
  EnsureOpenSslProviders();
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  return Pkcs12Ptr(d2i_PKCS12(nullptr, &p, static_cast<long>(bytes.size())));
}

// The certificate of the file's key, or without a key its first certificate. OpenSSL 3 hands
// out the certificate only when the key is asked for too.
X509Ptr CertFromPkcs12(PKCS12* p12, const std::string& password) {
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  STACK_OF(X509)* others = nullptr;
  if (PKCS12_parse(p12, password.c_str(), &key, &cert, &others) != 1) return nullptr;
  EVP_PKEY_free(key);
  if (!cert && sk_X509_num(others) > 0) cert = sk_X509_shift(others);
  sk_X509_pop_free(others, X509_free);
  return X509Ptr(cert);
}

// Hands the password to PEM decryption; never prompts on a terminal.
int PasswordCallback(char* buffer, int size, int /*rwflag*/, void* userData) {
  const auto* password = static_cast<const std::string*>(userData);
  if (!password || size <= 0 || password->size() > static_cast<std::size_t>(size)) return -1;
  password->copy(buffer, password->size());
  return static_cast<int>(password->size());
}

struct KeyAndIv {
  unsigned char key[EVP_MAX_KEY_LENGTH];
  unsigned char iv[EVP_MAX_IV_LENGTH];
};

bool DeriveSchemeKey(const std::string& password, KeyAndIv& out) {
  if (password.size() > static_cast<std::size_t>(INT_MAX)) return false;
  const EVP_CIPHER* cipher = EVP_des_ede3_cbc();
  return EVP_BytesToKey(cipher, EVP_sha1(), nullptr,
                        reinterpret_cast<const unsigned char*>(password.data()),
                        static_cast<int>(password.size()), 1, out.key,
                        out.iv) == EVP_CIPHER_get_key_length(cipher);
}

// Runs the scheme's cipher over `in`; nullopt when the padding or the key is wrong.
std::optional<std::string> SchemeCipher(const std::string& in, const std::string& password,
                                        bool encrypt) {
  KeyAndIv material;
  if (in.size() > static_cast<std::size_t>(INT_MAX) - 16 || !DeriveSchemeKey(password, material))
    return std::nullopt;
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  if (!ctx) return std::nullopt;
  std::string out(in.size() + 16, '\0');
  int n = 0, tail = 0;
  bool ok = EVP_CipherInit_ex2(ctx, EVP_des_ede3_cbc(), material.key, material.iv, encrypt ? 1 : 0,
                               nullptr) == 1 &&
            EVP_CipherUpdate(ctx, reinterpret_cast<unsigned char*>(out.data()), &n,
                             reinterpret_cast<const unsigned char*>(in.data()),
                             static_cast<int>(in.size())) == 1 &&
            EVP_CipherFinal_ex(ctx, reinterpret_cast<unsigned char*>(out.data()) + n, &tail) == 1;
  EVP_CIPHER_CTX_free(ctx);
  OPENSSL_cleanse(&material, sizeof material);
  if (!ok) {
    OPENSSL_cleanse(out.data(), out.size());
    return std::nullopt;
  }
  out.resize(static_cast<std::size_t>(n + tail));
  return out;
}

EvpPkeyPtr KeyFromDer(const std::string& der) {
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  return EvpPkeyPtr(d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(der.size())));
}

}  // namespace

X509Ptr LoadCert(const Source& source, const std::string& pkcs12Password, std::string& errorText) {
  std::optional<std::string> bytes =
      ReadSource(source, "open CA certificate file error", errorText);
  if (!bytes) return nullptr;
  X509Ptr cert = CertFromDer(*bytes);
  if (!cert) {
    BioPtr bio = MemoryBio(*bytes);
    if (bio) cert.reset(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  }
  if (!cert) {
    if (Pkcs12Ptr p12 = Pkcs12FromBytes(*bytes)) cert = CertFromPkcs12(p12.get(), pkcs12Password);
  }
  errorText = cert ? "" : kCertLoadError;
  return cert;
}

EvpPkeyPtr PrivateKeyFromBytes(const std::string& bytes, const std::string& password,
                               std::string& errorText) {
  EvpPkeyPtr key;
  if (password.empty()) {
    key = KeyFromDer(bytes);
  } else if (std::optional<std::string> der = SchemeCipher(bytes, password, false)) {
    key = KeyFromDer(*der);
    OPENSSL_cleanse(der->data(), der->size());
  }
  if (!key) {
    BioPtr bio = MemoryBio(bytes);
    std::string passphrase = password;
    if (bio) key.reset(PEM_read_bio_PrivateKey(bio.get(), nullptr, PasswordCallback, &passphrase));
  }
  if (!key) {
    if (Pkcs12Ptr p12 = Pkcs12FromBytes(bytes)) {
      EVP_PKEY* parsed = nullptr;
      if (PKCS12_parse(p12.get(), password.c_str(), &parsed, nullptr, nullptr) == 1)
        key.reset(parsed);
    }
  }
  errorText = key ? "" : kKeyLoadError;
  return key;
}

EvpPkeyPtr LoadPrivateKey(const std::string& path, const std::string& password,
                          std::string& errorText) {
  std::optional<std::string> bytes = ReadFileBytes(path);
  if (!bytes) {
    char text[128];
    std::snprintf(text, sizeof text, "open CA certificate file error;keylen:%d,%60s", 0,
                  path.c_str());
    errorText = text;
    return nullptr;
  }
  EvpPkeyPtr key = PrivateKeyFromBytes(*bytes, password, errorText);
  OPENSSL_cleanse(bytes->data(), bytes->size());
  return key;
}

bool IsCert(const Source& source) {
  std::string errorText;
  return LoadCert(source, "", errorText) != nullptr;
}

std::string EncryptDerKeyScheme(const std::string& der, const std::string& password) {
  return SchemeCipher(der, password, true).value_or(std::string());
}

}  // namespace corvane::zorvat
