// Cabinets chosen by the user: the layout, signature and digest readers, and the signing
// rewrite, whose result must read back as a prepared cabinet with the digest that was worked
// out from the source.
#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "formats/cab/cab_image.h"
#include "scratch_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace cab = corvane::cab;
  const std::string& path = fuzz::ScratchPath();
  const fuzz::ScratchFile scratch(data, size);
  try {
    cab::ReadLayout(path);
  } catch (const cab::CabFormatError&) {
    return 0;
  }
  try {
    cab::ReadSignature(path);
  } catch (const cab::CabFormatError&) {
  }
  try {
    cab::AuthenticodeDigest(path, EVP_sha256());
  } catch (const cab::CabFormatError&) {
  }
  std::string expected;
  try {
    expected = cab::PreparedDigest(path, EVP_sha256());
  } catch (const cab::CabFormatError&) {
  }
  try {
    cab::PrepareForSigning(path);
  } catch (const cab::CabFormatError&) {
    if (!expected.empty()) std::abort();  // the digest of a cabinet that cannot be prepared
    return 0;
  }
  // What the digest from the source promised is what the prepared cabinet gives.
  if (cab::AuthenticodeDigest(path, EVP_sha256()) != expected) std::abort();
  // Whatever was accepted and prepared must read back with an empty signature reserve and
  // take a signature.
  const cab::CabLayout prepared = cab::ReadLayout(path);
  if (!prepared.signatureReserve || prepared.HasSignature()) std::abort();
  const std::string signature("\x30\x03\x02\x01\x07", 5);
  cab::AuthenticodeDigest(path, EVP_sha256());
  cab::WriteSignature(path, signature);
  if (cab::ReadSignature(path) != signature) std::abort();
  cab::ReplaceSignature(path, 5, std::string("\x30\x00", 2));
  if (cab::ReadLayout(path).signatureAreaSize != 2 + 3) std::abort();
  cab::ReplaceSignatureInPlace(path, 2, signature);
  if (cab::ReadSignature(path) != signature || cab::ReadLayout(path).signatureAreaSize != 5 + 3)
    std::abort();
  return 0;
}
