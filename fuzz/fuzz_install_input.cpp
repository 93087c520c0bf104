// What the install reads from a file or pasted text (certificates, PKCS #7 bundles, PKCS #12
// files), and the distinguished-name strings of key-store requests.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cert/cert_install.h"
#include "csr/key_store_csr.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    corvane::CertificatesFromInput(bytes);
  } catch (const std::exception&) {
  }
  try {
    corvane::CertificatesFromInput(corvane::NormalizePastedText(std::string(bytes)));
  } catch (const std::exception&) {
  }
  corvane::IsPkcs7SignedMessage(bytes);
  corvane::ParseDistinguishedName(std::string(bytes));
  return 0;
}
