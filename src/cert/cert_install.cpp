#include "cert/cert_install.h"

#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>

#include <filesystem>

#include "base/file_publish.h"
#include "base/status.h"
#include "cert/cert_checks.h"
#include "crypto/cert_decode.h"
#include "crypto/trust_store.h"
#include "crypto/x509_names.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

void TakeStack(STACK_OF(X509) * stack, std::vector<X509Ptr>& out) {
  for (int i = 0; stack && i < sk_X509_num(stack); ++i)
    out.push_back(UpRef(sk_X509_value(stack, i)));
}

bool FromPkcs7(PKCS7* p7, std::vector<X509Ptr>& out) {
  if (!p7 || !PKCS7_type_is_signed(p7) || !p7->d.sign) return false;
  TakeStack(p7->d.sign->cert, out);
  return true;
}

bool FromDer(std::string_view der, const std::string& password, std::vector<X509Ptr>& out) {
  const auto* begin = reinterpret_cast<const unsigned char*>(der.data());
  const long size = static_cast<long>(der.size());
  const unsigned char* p = begin;
  if (X509Ptr cert{d2i_X509(nullptr, &p, size)}) {
    out.push_back(std::move(cert));
    return true;
  }
  p = begin;
  if (Pkcs7Ptr p7{d2i_PKCS7(nullptr, &p, size)}) return FromPkcs7(p7.get(), out);
  p = begin;
  if (Pkcs12Ptr p12{d2i_PKCS12(nullptr, &p, size)}) {
    EVP_PKEY* key = nullptr;
    X509* leaf = nullptr;
    STACK_OF(X509)* cas = nullptr;
    if (PKCS12_parse(p12.get(), password.c_str(), &key, &leaf, &cas) != 1) return false;
    EVP_PKEY_free(key);  // keys are made on tokens and never moved there from files
    if (leaf) out.push_back(X509Ptr(leaf));
    TakeStack(cas, out);
    sk_X509_pop_free(cas, X509_free);
    return !out.empty();
  }
  return false;
}

std::string Base64Decode(std::string_view text) {
  std::string clean;
  for (char c : text)
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/' || c == '=') clean += c;
  std::string out(clean.size() / 4 * 3 + 3, '\0');
  int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(clean.data()),
                          static_cast<int>(clean.size()));
  if (n < 0 || clean.empty()) return {};
  std::size_t pad = 0;
  while (pad < 2 && pad < clean.size() && clean[clean.size() - 1 - pad] == '=') ++pad;
  out.resize(static_cast<std::size_t>(n) - pad);
  return out;
}

bool IsSelfIssuedRoot(X509* cert) {
  if (X509_NAME_cmp(X509_get_subject_name(cert), X509_get_issuer_name(cert)) != 0) return false;
  EVP_PKEY* key = X509_get0_pubkey(cert);
  return key && X509_verify(cert, key) == 1;
}

std::string PublicKeyDer(const X509* cert) {
  unsigned char* der = nullptr;
  int length = i2d_PUBKEY(X509_get0_pubkey(cert), &der);
  std::string out;
  if (length > 0) out.assign(reinterpret_cast<char*>(der), static_cast<std::size_t>(length));
  OPENSSL_free(der);
  return out;
}

std::string PemOf(X509* cert) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  PEM_write_bio_X509(bio.get(), cert);
  char* data = nullptr;
  long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(size > 0 ? size : 0));
}

bool FileHolds(const std::string& path, const std::string& content) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return false;
  try {
    return ReadWholeFile(path) == content;
  } catch (const std::exception&) {
    return false;
  }
}

// Beside the destination first, then renamed over it: a file is never half written.
void WriteFileAtomically(const std::string& path, const std::string& content) {
  std::error_code ec;
  fs::create_directories(fs::path(path).parent_path(), ec);
  if (!PublishFile(path, content, NewFileMode())) RaiseStatus(StatusCode::Undefined);
}

}  // namespace

std::string NormalizePastedText(std::string text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    out += text[i];
    if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) out += '\n';
  }
  const char* space = " \t\r\n";
  std::size_t first = out.find_first_not_of(space);
  if (first == std::string::npos) return {};
  return out.substr(first, out.find_last_not_of(space) - first + 1);
}

std::vector<X509Ptr> CertificatesFromInput(std::string_view bytes,
                                           const std::string& pkcs12Password) {
  std::vector<X509Ptr> out;
  if (bytes.find("-----BEGIN") != std::string_view::npos) {
    BioPtr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
    while (X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr))
      out.push_back(X509Ptr(cert));
    if (out.empty()) {
      BioPtr again(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
      Pkcs7Ptr p7(PEM_read_bio_PKCS7(again.get(), nullptr, nullptr, nullptr));
      FromPkcs7(p7.get(), out);
    }
  } else if (!FromDer(bytes, pkcs12Password, out)) {
    out.clear();
    std::string der = Base64Decode(bytes);
    if (!der.empty()) FromDer(der, pkcs12Password, out);
  }
  if (out.empty()) RaiseStatus(StatusCode::Undefined);
  return out;
}

bool IsPkcs7SignedMessage(std::string_view bytes) {
  auto signedDer = [](std::string_view der) {
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    Pkcs7Ptr p7(d2i_PKCS7(nullptr, &p, static_cast<long>(der.size())));
    return p7 && PKCS7_type_is_signed(p7.get());
  };
  if (bytes.find("-----BEGIN") != std::string_view::npos) {
    BioPtr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
    Pkcs7Ptr p7(PEM_read_bio_PKCS7(bio.get(), nullptr, nullptr, nullptr));
    return p7 && PKCS7_type_is_signed(p7.get());
  }
  if (signedDer(bytes)) return true;
  std::string der = Base64Decode(bytes);
  return !der.empty() && signedDer(der);
}

std::vector<InstallItem> PlanInstallFromFile(const std::string& path, KeyStore* store) {
  std::string bytes;
  try {
    bytes = ReadWholeFile(path);
  } catch (const CryptoError&) {
    RaiseStatus(StatusCode::Undefined);
  }
  return PlanInstall(CertificatesFromInput(bytes), store);
}

std::vector<InstallItem> PlanInstallFromText(const std::string& text, KeyStore* store) {
  return PlanInstall(CertificatesFromInput(NormalizePastedText(text)), store);
}

std::vector<InstallItem> PlanInstall(std::vector<X509Ptr> certificates, KeyStore* store) {
  std::vector<InstallItem> plan;
  for (X509Ptr& cert : certificates) {
    InstallItem item;
    bool ca = false;
    try {
      ca = IsCaCertificate(cert.get());
    } catch (const std::exception&) {
    }
    const std::string name = SubjectDisplayName(cert.get());
    if (ca) {
      bool root = IsSelfIssuedRoot(cert.get());
      item.target = root ? InstallTarget::Trust : InstallTarget::Intermediate;
      std::string dir = root ? UserTrustDirectory() : UserIntermediateDirectory();
      item.path = dir + "/" + Thumbprint(cert.get()) + ".pem";
      item.alreadyThere = FileHolds(item.path, PemOf(cert.get()));
      item.description = name + ": " + (root ? "trusted root store" : "intermediate store") + " (" +
                         item.path + ")";
    } else if (store) {
      const std::string key = PublicKeyDer(cert.get());
      const std::string der = CertDer(cert.get());
      for (std::size_t t = 0; t < store->Tokens().size() && item.target == InstallTarget::Nowhere;
           ++t) {
        for (const TokenKey& k : store->Keys(t)) {
          if (k.publicKeyDer != key) continue;
          item.target = InstallTarget::Token;
          item.token = t;
          item.keyId = k.id;
          for (const TokenCertificate& c : store->Certificates(t))
            if (CertDer(c.certificate) == der) item.alreadyThere = true;
          item.description =
              name + ": token \"" + store->Tokens()[t].label + "\", beside its private key";
          break;
        }
      }
    }
    if (item.target == InstallTarget::Nowhere)
      item.description = name + ": not installed, no token holds its private key";
    if (item.alreadyThere) item.description += " (already there)";
    item.certificate = std::move(cert);
    plan.push_back(std::move(item));
  }
  return plan;
}

bool InstallCertificates(std::vector<InstallItem>& plan, KeyStore* store,
                         const std::function<bool(const std::vector<InstallItem>&)>& confirm) {
  if (!confirm || !confirm(plan)) return false;
  for (InstallItem& item : plan) {
    if (item.alreadyThere) continue;
    switch (item.target) {
      case InstallTarget::Token:
        if (!store) RaiseStatus(StatusCode::Undefined);
        store->PutCertificate(item.token, item.certificate.get(), item.keyId,
                              SubjectDisplayName(item.certificate.get()));
        break;
      case InstallTarget::Trust:
      case InstallTarget::Intermediate:
        WriteFileAtomically(item.path, PemOf(item.certificate.get()));
        break;
      case InstallTarget::Nowhere:
        continue;
    }
    item.alreadyThere = true;
  }
  return true;
}

}  // namespace corvane
