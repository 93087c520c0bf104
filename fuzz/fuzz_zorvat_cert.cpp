// Certificates the certificate tools load: DER, PEM or PKCS #12 (with a fixed password).
#include <cstddef>
#include <cstdint>
#include <string>

#include "zorvat/cert_load.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  std::string error;
  corvane::zorvat::LoadCert(corvane::zorvat::Source::Memory(bytes), "fuzz", error);
  corvane::zorvat::PrivateKeyFromBytes(bytes, "fuzz", error);
  return 0;
}
