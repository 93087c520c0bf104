#include "certtool/cert_text.h"

#include <string>

#include "crypto/cert_decode.h"

namespace corvane {

bool ParseCertText(std::string_view text) {
  // Raw DER is not text; what is pasted is base64.
  for (char c : text)
    if (c == '\0') return false;
  try {
    return CertFromText(text) != nullptr;
  } catch (const std::exception&) {
    return false;
  }
}

std::string NormalizeCertLineBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    out += text[i];
    if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) out += '\n';
  }
  return out;
}

}  // namespace corvane
