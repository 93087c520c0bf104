// Certificates pasted or read from files: PEM, bare base64 or DER.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "crypto/cert_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    corvane::CertFromText(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const std::exception&) {
  }
  return 0;
}
