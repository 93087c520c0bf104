// PE/COFF images (PE32 and PE32+): the layout fields signing needs, the Authenticode
// digest, and the attribute certificate table. Every read is checked against the file's
// length; a malformed image raises PeFormatError, never reads out of bounds. Files are
// streamed through fixed-size buffers, so memory use does not grow with the image.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "formats/file_reader.h"

namespace corvane::pe {

// Why an image was refused, for the log; callers map it to their own status.
class PeFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file that is a PE image but cannot be one as it stands: its sections run past the end of
// the file (a truncated copy) or into the certificate table.
class PeDamagedError : public PeFormatError {
 public:
  using PeFormatError::PeFormatError;
};

struct PeLayout {
  bool pe32plus = false;
  std::uint16_t machine = 0;
  std::uint16_t subsystem = 0;
  std::uint64_t fileSize = 0;
  std::uint64_t checksumOffset = 0;       // file offset of OptionalHeader.CheckSum
  std::uint64_t securityEntryOffset = 0;  // file offset of data directory entry 4 (8 bytes)
  std::uint32_t sizeOfHeaders = 0;
  std::uint32_t certTableOffset = 0;  // 0 when the image has no certificate table
  std::uint32_t certTableSize = 0;
  std::uint32_t checksum = 0;  // the value stored in the header
};

// Reads and validates the headers of `path`.
PeLayout ReadLayout(const std::string& path);

// True when the file starts like a PE image (MZ header pointing at "PE\0\0").
bool LooksLikePe(const std::string& path);

// The Authenticode digest of the image with `md`: every byte except the checksum field,
// the security directory entry and the attribute certificate table.
std::string AuthenticodeDigest(const std::string& path, const EVP_MD* md);

// Pads the image data (everything before the certificate table) with zero bytes to a
// multiple of 8, so that a certificate table can follow it on an 8-byte boundary. The padding
// belongs to the image and is covered by the digest: call this before computing the digest
// of an image that is about to be signed. An existing table is moved along.
void AlignForCertificateTable(const std::string& path);

// One entry of the attribute certificate table.
struct CertificateEntry {
  std::uint16_t revision = 0;
  std::uint16_t type = 0;  // 2: PKCS #7 signed data
  std::string data;        // bCertificate, without the 8-byte header or padding
};

// All entries, in table order.
std::vector<CertificateEntry> ReadCertificates(const std::string& path);

// The data of the first PKCS #7 entry (type 2); empty when there is none.
std::string ReadSignature(const std::string& path);

// Rewrites `path` in place so that its certificate table holds exactly one entry, revision
// 0x0200, type 2, with `pkcs7Der`: the old table is cut off, the entry is appended on an
// 8-byte boundary and padded to a multiple of 8, the security directory entry points at it
// and the optional header checksum is recomputed. Raises PeFormatError (or
// std::system_error for I/O) and then the file may be incomplete: call it on a working copy.
void ReplaceSignature(const std::string& path, const std::string& pkcs7Der);

// Removes the certificate table (security entry zeroed, table cut off, checksum updated).
void RemoveSignatures(const std::string& path);

// One image on disk, by path, opened once (for reading, and again for writing at the first
// edit) and kept open while the object lives. It keeps what a digest pass learned about the image
// (the digest state after the image data and its word sum), so that signing reads a large image
// once: padding the image extends that state, and writing the certificate table takes the checksum
// from it instead of reading the image again. What it learned holds only while the file is as
// this object left it; any other change is noticed (identity, size, time of last change) and
// the image is read again.
class Image {
 public:
  // Reads and validates the headers; raises as ReadLayout does.
  explicit Image(std::string path);
  // `path` was just copied byte for byte from `original`'s file, which is unchanged since
  // `original` read it: what `original` learned holds for the copy too.
  Image(std::string path, const Image& original);
  ~Image();
  Image(Image&&) noexcept;
  Image& operator=(Image&&) noexcept;

  const std::string& path() const { return path_; }
  std::string AuthenticodeDigest(const EVP_MD* md);
  void AlignForCertificateTable();
  std::vector<CertificateEntry> ReadCertificates() const;
  std::string ReadSignature() const;
  void ReplaceSignature(const std::string& pkcs7Der);
  void RemoveSignatures();

  struct State;

 private:
  formats::FileReader& Reader() const;
  formats::FileEditor& Editor();

  std::string path_;
  mutable std::unique_ptr<formats::FileReader> file_;
  bool editable_ = false;
  std::unique_ptr<State> state_;
};

// The PE checksum of the file as the loader computes it (the stored field counts as zero).
std::uint32_t ComputeChecksum(const std::string& path);

}  // namespace corvane::pe
