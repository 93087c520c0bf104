// Certificate requests pasted or read from files: PEM in either armour, or DER; then the
// second reader the request check falls back on.
#include <cstddef>
#include <cstdint>
#include <string>

#include "csr/pkcs10_decode.h"
#include "zorvat/cert_req_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  std::string error;
  corvane::zorvat::LoadCertReq(corvane::zorvat::Source::Memory(bytes), error);
  corvane::zorvat::CertReqInfo info;
  corvane::zorvat::CheckCertReq(corvane::zorvat::Source::Memory(bytes), info, error);
  corvane::DescribeBase64Pkcs10(bytes);
  return 0;
}
