// Compound files chosen by the user (installer packages): the reader, every stream, the
// package digest, and the signature-stream edits, whose result must read back.
#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "formats/cfb/compound_file.h"
#include "formats/msi/msi_package.h"
#include "scratch_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace cfb = corvane::cfb;
  namespace msi = corvane::msi;
  const std::string& path = fuzz::ScratchPath();
  const fuzz::ScratchFile scratch(data, size);
  try {
    cfb::CompoundFile file(path);
    for (std::uint32_t id = 0; id < file.entries().size(); ++id) {
      if (file.entry(id).type != cfb::EntryType::Stream) continue;
      try {
        file.ReadStream(id, [](const unsigned char*, std::size_t) {});
      } catch (const cfb::CfbFormatError&) {
      }
    }
  } catch (const cfb::CfbFormatError&) {
    return 0;
  }
  try {
    msi::AuthenticodeDigest(path, EVP_sha256());
    msi::ReadSignature(path);
  } catch (const cfb::CfbFormatError&) {
  }
  // The edits of signing; a damaged chain found on the way may stop them, but what they
  // complete must read back exactly.
  const std::string small(200, 's'), large(5000, 'L');
  try {
    msi::WriteSignature(path, small);
    if (msi::ReadSignature(path) != small) std::abort();
    msi::ReplaceSignature(path, large);
    if (msi::ReadSignature(path) != large) std::abort();
    if (!cfb::CompoundFile(path, true).RemoveRootStream(msi::kSignatureStream)) std::abort();
    if (!msi::ReadSignature(path).empty()) std::abort();
    msi::AuthenticodeDigest(path, EVP_sha256());
  } catch (const cfb::CfbFormatError&) {
  }
  return 0;
}
