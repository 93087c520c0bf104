// PFX files chosen by the user, opened with a fixed password and with an empty one.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cert/pfx_import.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  for (const char* password : {"fuzz", ""}) {
    try {
      corvane::PfxStore store = corvane::ImportPfxBytes(bytes, password);
      corvane::FindSigningCertInPfx(store);
    } catch (const std::exception&) {
    }
  }
  return 0;
}
