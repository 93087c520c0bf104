// PE images from disk: the header checks, the certificate table walk, the digest and the
// in-place edits of signing. The input goes to a private temporary file that the edits change.
// Headers that pass must also pass through every edit, whose results must read back exactly.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "formats/pe/pe_image.h"
#include "formats/pe/pe_page_hashes.h"

namespace {

struct Scratch {
  std::string path;
  int fd = -1;
  Scratch() {
    const char* tmp = getenv("TMPDIR");
    path = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz-pe-XXXXXX";
    fd = mkstemp(path.data());
    if (fd < 0) abort();
  }
  ~Scratch() {
    close(fd);
    unlink(path.c_str());
  }
  // Rewrites the file in place (no truncation to zero, which makes some file systems flush).
  void Write(const std::uint8_t* data, std::size_t size) const {
    for (std::size_t done = 0; done < size;) {
      ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
      if (n <= 0) abort();
      done += static_cast<std::size_t>(n);
    }
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) abort();
  }
};

const Scratch scratch;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace pe = corvane::pe;
  const std::string& path = scratch.path;
  scratch.Write(data, size);
  pe::LooksLikePe(path);
  try {
    pe::ReadLayout(path);
    pe::AuthenticodeDigest(path, EVP_sha256());
    pe::ComputeChecksum(path);
  } catch (const std::exception&) {
    return 0;  // refused headers: the edits would refuse them too
  }
  try {
    pe::ReadCertificates(path);
    pe::ReadSignature(path);
  } catch (const std::exception&) {
  }
  try {
    pe::PageHashTable(path, EVP_sha1());
  } catch (const std::exception&) {
  }

  // Headers that passed must also survive the edits, and the results must read back.
  pe::AlignForCertificateTable(path);
  const std::string blob = "\x30\x03\x02\x01\x07";
  pe::ReplaceSignature(path, blob);
  const pe::PeLayout layout = pe::ReadLayout(path);
  const auto entries = pe::ReadCertificates(path);
  if (entries.size() != 1 || entries[0].data != blob || layout.certTableOffset % 8 != 0 ||
      layout.checksum != pe::ComputeChecksum(path))
    abort();
  pe::RemoveSignatures(path);
  if (pe::ReadLayout(path).certTableOffset != 0 || !pe::ReadCertificates(path).empty()) abort();
  return 0;
}
