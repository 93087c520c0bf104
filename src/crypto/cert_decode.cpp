#include "crypto/cert_decode.h"

#include <openssl/evp.h>

#include <cctype>
#include <cstdio>
#include <memory>
#include <optional>

#include "crypto/crypto_error.h"

namespace corvane {
namespace {

X509Ptr FromDer(std::string_view der) {
  if (der.empty()) return nullptr;
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  return cert;
}

// Decodes base64 that may be broken into lines; nullopt for anything else.
std::optional<std::string> DecodeBase64(std::string_view text) {
  std::string compact;
  compact.reserve(text.size());
  for (char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '/' && c != '=')
      return std::nullopt;
    compact.push_back(c);
  }
  if (compact.empty() || compact.size() % 4 != 0) return std::nullopt;
  std::string out(compact.size() / 4 * 3, '\0');
  int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(compact.data()),
                          static_cast<int>(compact.size()));
  if (n < 0) return std::nullopt;
  std::size_t padding = 0;
  if (compact.back() == '=') ++padding;
  if (compact.size() > 1 && compact[compact.size() - 2] == '=') ++padding;
  out.resize(static_cast<std::size_t>(n) - padding);
  return out;
}

// The base64 body between a "-----BEGIN …-----" line and the next "-----END".
std::optional<std::string_view> PemBody(std::string_view text) {
  std::size_t begin = text.find("-----BEGIN");
  if (begin == std::string_view::npos) return std::nullopt;
  std::size_t headerEnd = text.find("-----", begin + 10);
  if (headerEnd == std::string_view::npos) return std::nullopt;
  std::size_t bodyStart = headerEnd + 5;
  std::size_t end = text.find("-----END", bodyStart);
  if (end == std::string_view::npos) return std::nullopt;
  return text.substr(bodyStart, end - bodyStart);
}

}  // namespace

X509Ptr CertFromText(std::string_view bytes) {
  X509Ptr cert;
  if (auto body = PemBody(bytes)) {
    if (auto der = DecodeBase64(*body)) cert = FromDer(*der);
  } else if (auto der = DecodeBase64(bytes)) {
    cert = FromDer(*der);
  }
  if (!cert) cert = FromDer(bytes);
  if (!cert) throw CryptoError("no certificate in any of the three forms");
  return cert;
}

std::string ReadWholeFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) throw CryptoError("the file cannot be opened");
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> closer(file, std::fclose);
  std::string bytes;
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
  if (std::ferror(file)) throw CryptoError("the file cannot be read");
  return bytes;
}

X509Ptr CertFromFile(const std::string& path) { return CertFromText(ReadWholeFile(path)); }

}  // namespace corvane
