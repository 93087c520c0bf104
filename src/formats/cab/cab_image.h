// Cabinet (MSCF) files as signing sees them: the header fields, the 20-byte header reserve
// that holds the signature's place, the Authenticode digest, and the signature appended
// after the cabinet. Bytes in, bytes out: no policy. Every read is checked against the file's
// length and a malformed cabinet raises CabFormatError; files are streamed through
// fixed-size buffers, so memory use does not grow with the cabinet. I/O failures raise
// std::system_error.
//
// A signed cabinet looks like this (offsets from the start of the file, little-endian):
//    0..35  the fixed header; flags (30) has kFlagReservePresent, cbCabinet (8) counts the
//           cabinet without the signature area
//   36..37  cbCFHeader = 20        38  cbCFFolder        39  cbCFData
//   40..43  0x00100000 (bytes 00 00 10 00): marks the reserve as a signature reserve
//   44..47  file offset of the signature (= cbCabinet)
//   48..51  size of the signature area: the signature and its zero padding, to the end of file
//   52..59  zero
//   60..    the set names (when flags 0x0001 / 0x0002), folders, files and data
//   cbCabinet..  the PKCS #7 SignedData, padded with zero bytes to a multiple of 8
#pragma once

#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <system_error>

namespace corvane::cab {

// Why a cabinet was refused, for the log; callers map it to their own status.
class CabFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The new file of a rewrite could not be created or written (a full disk, say); the code is
// the system's. Other I/O failures raise plain std::system_error.
class CabWriteError : public std::system_error {
 public:
  using std::system_error::system_error;
};

inline constexpr std::uint16_t kFlagPrevCabinet = 0x0001;     // szCabinetPrev, szDiskPrev follow
inline constexpr std::uint16_t kFlagNextCabinet = 0x0002;     // szCabinetNext, szDiskNext follow
inline constexpr std::uint16_t kFlagReservePresent = 0x0004;  // cbCFHeader, cbCFFolder, cbCFData

inline constexpr std::uint16_t kSignatureReserveSize = 20;  // cbCFHeader of a signable cabinet
inline constexpr std::uint32_t kSignatureReserveMarker = 0x00100000;
inline constexpr std::uint64_t kSignatureOffsetField = 44;
inline constexpr std::uint64_t kSignatureSizeField = 48;

// Signatures larger than this are refused when read or written: no real one comes close, and
// it bounds what a forged size field can make us allocate.
inline constexpr std::uint32_t kMaxSignatureSize = 64u << 20;

struct CabLayout {
  std::uint64_t fileSize = 0;
  std::uint32_t cabinetSize = 0;  // cbCabinet: the cabinet without any signature area
  std::uint32_t filesOffset = 0;  // coffFiles
  std::uint8_t versionMinor = 0;
  std::uint8_t versionMajor = 0;
  std::uint16_t folderCount = 0;
  std::uint16_t fileCount = 0;
  std::uint16_t flags = 0;
  std::uint16_t setId = 0;
  std::uint16_t cabinetIndex = 0;
  std::uint16_t headerReserveSize = 0;  // cbCFHeader; all three are 0 without the reserve flag
  std::uint8_t folderReserveSize = 0;   // cbCFFolder
  std::uint8_t dataReserveSize = 0;     // cbCFData
  std::uint32_t folderTableOffset = 0;  // the first CFFOLDER, after the reserve and set names

  // A 20-byte header reserve laid out for a signature (marker at 40). Only then are the two
  // fields below read from the file.
  bool signatureReserve = false;
  std::uint32_t signatureOffset = 0;    // field at 44
  std::uint32_t signatureAreaSize = 0;  // field at 48

  bool HasSignature() const { return signatureReserve && signatureAreaSize != 0; }
};

// Reads and validates the header, the reserve, the set names and the folder table of `path`.
CabLayout ReadLayout(const std::string& path);

// Makes `path` ready for a signature. A cabinet without a header reserve gets the 20-byte
// signature reserve (and the reserve-size fields when it had none), every offset behind it
// moves along and cbCabinet grows to match; this rewrite goes through a temporary file beside
// `path` that replaces it when complete. Existing per-folder and per-data reserves are kept.
// A cabinet that already has the signature reserve loses its signature area, in place.
// Anything after cbCabinet is dropped. Afterwards the offset field holds cbCabinet and the size
// field 0. CabFormatError for a header reserve of any other size or content (in use by
// someone else) and for a cabinet that continues a set (flag 0x0001 or iCabinet not 0), whose
// digest differs between implementations; the first cabinet of a set (flag 0x0002) is signed.
void PrepareForSigning(const std::string& path);

// Writes the cabinet `source` as PrepareForSigning leaves it to `target` (beside which a
// temporary file takes the bytes and is renamed over it), in one pass; `source` may be
// `target`. Refuses what PrepareForSigning refuses.
void CopyPreparedForSigning(const std::string& source, const std::string& target);

// Copies `source` into the existing file `target` (a fresh working copy: it is written
// directly) for signing in one pass: a cabinet without the signature reserve is written prepared,
// one with it byte for byte, so that its signature can still be read. Refuses what
// PrepareForSigning refuses.
void CopyForSigning(const std::string& source, const std::string& target);

// The Authenticode digest that `source` will have once prepared, worked out from `source`.
std::string PreparedDigest(const std::string& source, const EVP_MD* md);

// The Authenticode digest with `md` of a cabinet that has the signature reserve: bytes 0..3,
// 8..33 and 56..cbCabinet. Skipped are the header checksum (4..7), iCabinet, the reserve-size
// fields and the first 16 bytes of the reserve (34..55, which hold the signature's place),
// and the signature area. The set names, when present, are covered like everything after them.
// Raises CabFormatError for a cabinet without the signature reserve or one that continues a set.
std::string AuthenticodeDigest(const std::string& path, const EVP_MD* md);

// The digest a catalog lists for a cabinet without the signature reserve: every byte of the
// file but the header checksum field (4..7).
std::string UnreservedDigest(const std::string& path, const EVP_MD* md);

// Places `pkcs7Der` (one DER element) as the cabinet's only signature: the file is cut at
// cbCabinet, the signature appended and padded with zero bytes to a length that is a multiple
// of 8, and the reserve's offset and size fields set. In place: call it on a working copy.
// std::invalid_argument when `pkcs7Der` is not a single DER element.
void WriteSignature(const std::string& path, const std::string& pkcs7Der);

// The DER of the signature (its length taken from the DER header, without the padding);
// empty when the cabinet has none.
std::string ReadSignature(const std::string& path);

// Replaces a signature of `oldSignatureLength` bytes, keeping the padding it had: every byte
// before the signature stays, the size field becomes finalDer.size() + pad with
// pad = (old size field - oldSignatureLength) & 0xFFFF, then come `finalDer` and pad zero
// bytes. The signature starts where the reserve says (for a signature area as signing writes
// it, that is file size - pad - oldSignatureLength; a pad of 64 KiB or more, which no signing
// writes, loses its high bits and the file ends earlier). Written to a temporary file beside
// `path` that replaces it only when complete. std::invalid_argument when `oldSignatureLength`
// exceeds the old size field or `finalDer` is not a single DER element.
void ReplaceSignature(const std::string& path, std::uint32_t oldSignatureLength,
                      const std::string& finalDer);

// The same bytes written into `path` itself: only the signature area and the size field are
// written, whatever the cabinet's size. For a working copy, which is thrown away when this
// fails part way (a failure to write raises CabWriteError).
void ReplaceSignatureInPlace(const std::string& path, std::uint32_t oldSignatureLength,
                             const std::string& finalDer);

// A complete 89-byte cabinet holding "123456.txt" = "123456" (MSZIP): something small and
// known to sign when a cabinet signing needs to be tried without a user's file.
extern const unsigned char kProbeCabinet[89];

}  // namespace corvane::cab
