#include "formats/pe/pe_image.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <utility>

#include "crypto/openssl_ptr.h"
#include "formats/file_reader.h"

namespace corvane::pe {
namespace {

using formats::FileEditor;
using formats::FileRangeError;
using formats::FileReader;

// Header fields, as offsets from the start of the structure that holds them.
constexpr std::uint64_t kDosHeaderSize = 64;
constexpr std::uint64_t kLfanewOffset = 0x3c;
constexpr std::uint64_t kCoffHeaderSize = 20;  // follows the 4-byte signature
constexpr std::uint64_t kSectionHeaderSize = 40;
constexpr std::uint64_t kOptSizeOfHeaders = 60;
constexpr std::uint64_t kOptCheckSum = 64;
constexpr std::uint64_t kOptSubsystem = 68;
constexpr std::uint64_t kOptRvaCount32 = 92, kOptRvaCount64 = 108;
constexpr std::uint64_t kOptDirectories32 = 96, kOptDirectories64 = 112;
constexpr std::uint64_t kSecurityDirectoryIndex = 4;
constexpr std::uint64_t kDirectoryEntrySize = 8;

constexpr std::uint64_t kCertificateHeaderSize = 8;  // dwLength, wRevision, wCertificateType
constexpr std::uint16_t kCertificateRevision = 0x0200;
constexpr std::uint16_t kCertificateTypePkcs7 = 2;
constexpr std::uint64_t kTableAlignment = 8;
// Signers write one entry (further signatures nest inside the PKCS #7 one); a table of many
// tiny entries would cost far more memory as a vector than it takes in the file.
constexpr std::size_t kMaxCertificateEntries = 64;

// Digests and checksums read the file in pieces of this size (even, so 16-bit words never
// straddle two pieces), or in one piece when the file is smaller.
constexpr std::size_t kChunkSize = 1 << 20;

[[noreturn]] void Refuse(const std::string& reason) { throw PeFormatError(reason); }

std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

// Runs `body`, turning a read outside the file (something the explicit checks did not foresee)
// into the format error callers expect.
template <typename Body>
auto Guarded(Body&& body) -> decltype(body()) {
  try {
    return body();
  } catch (const FileRangeError&) {
    Refuse("image is truncated");
  }
}

PeLayout ParseLayout(const FileReader& file) {
  PeLayout layout;
  layout.fileSize = file.size();
  if (file.size() < kDosHeaderSize) Refuse("file is too short for a DOS header");
  if (file.ReadAt(0, 2) != "MZ") Refuse("no MZ signature");

  const std::uint64_t lfanew = file.U32At(kLfanewOffset);
  if (!file.Contains(lfanew, 4)) Refuse("e_lfanew points past the end of file");
  if (file.ReadAt(lfanew, 4) != std::string("PE\0\0", 4)) Refuse("no PE signature");
  if (!file.Contains(lfanew + 4, kCoffHeaderSize)) Refuse("COFF header is truncated");

  const std::uint64_t coff = lfanew + 4;
  layout.machine = file.U16At(coff);
  const std::uint64_t sectionCount = file.U16At(coff + 2);
  const std::uint64_t optionalSize = file.U16At(coff + 16);

  const std::uint64_t opt = coff + kCoffHeaderSize;
  if (optionalSize < 2 || !file.Contains(opt, 2)) Refuse("optional header is missing");
  const std::uint16_t magic = file.U16At(opt);
  if (magic == 0x20b)
    layout.pe32plus = true;
  else if (magic != 0x10b)
    Refuse("unknown optional header magic");

  const std::uint64_t directories = opt + (layout.pe32plus ? kOptDirectories64 : kOptDirectories32);
  const std::uint64_t securityEntry = directories + kSecurityDirectoryIndex * kDirectoryEntrySize;
  if (opt + optionalSize < securityEntry + kDirectoryEntrySize)
    Refuse("optional header is too small for the security directory");
  if (!file.Contains(opt, optionalSize)) Refuse("optional header runs past the end of file");
  const std::uint32_t rvaCount =
      file.U32At(opt + (layout.pe32plus ? kOptRvaCount64 : kOptRvaCount32));
  if (rvaCount <= kSecurityDirectoryIndex) Refuse("no security directory entry");

  const std::uint64_t sectionTable = opt + optionalSize;
  if (!file.Contains(sectionTable, sectionCount * kSectionHeaderSize))
    Refuse("section table runs past the end of file");
  const std::uint64_t sectionTableEnd = sectionTable + sectionCount * kSectionHeaderSize;

  layout.sizeOfHeaders = file.U32At(opt + kOptSizeOfHeaders);
  if (layout.sizeOfHeaders > file.size()) Refuse("SizeOfHeaders is past the end of file");
  layout.checksumOffset = opt + kOptCheckSum;
  layout.checksum = file.U32At(layout.checksumOffset);
  layout.subsystem = file.U16At(opt + kOptSubsystem);
  layout.securityEntryOffset = securityEntry;

  // Where the section data ends; signing an image whose sections were cut off would put the
  // certificate table in the middle of what the loader maps.
  std::uint64_t sectionDataEnd = 0;
  for (std::uint64_t i = 0; i < sectionCount; ++i) {
    const std::uint64_t header = sectionTable + i * kSectionHeaderSize;
    const std::uint64_t rawSize = file.U32At(header + 16);
    const std::uint64_t rawPointer = file.U32At(header + 20);
    if (rawSize != 0 && rawPointer != 0)
      sectionDataEnd = std::max(sectionDataEnd, rawPointer + rawSize);
  }
  if (sectionDataEnd > file.size()) throw PeDamagedError("section data runs past the end of file");

  const std::uint64_t tableOffset = file.U32At(securityEntry);
  const std::uint64_t tableSize = file.U32At(securityEntry + 4);
  if (tableOffset == 0 && tableSize == 0) return layout;
  if (tableOffset == 0 || tableSize == 0) Refuse("security directory entry is half empty");
  if (tableOffset < std::max<std::uint64_t>(layout.sizeOfHeaders, sectionTableEnd))
    Refuse("certificate table overlaps the headers");
  if (!file.Contains(tableOffset, tableSize)) Refuse("certificate table runs past the end of file");
  if (tableOffset + tableSize != file.size()) Refuse("data follows the certificate table");
  if (tableSize < kCertificateHeaderSize) Refuse("certificate table is too small");
  if (sectionDataEnd > tableOffset)
    throw PeDamagedError("section data runs into the certificate table");
  layout.certTableOffset = static_cast<std::uint32_t>(tableOffset);
  layout.certTableSize = static_cast<std::uint32_t>(tableSize);
  return layout;
}

// Where the image data ends: at the certificate table, or at the end of file without one.
std::uint64_t ImageEnd(const PeLayout& layout) {
  return layout.certTableOffset != 0 ? layout.certTableOffset : layout.fileSize;
}

// Sum of little-endian 16-bit words of `data`, which starts at an even file offset; a trailing
// odd byte counts as a word with a zero high byte. Folded, so sums of chunks can be added.
std::uint64_t WordSum(const unsigned char* data, std::size_t n) {
  // Eight bytes at a time: the words at even and odd positions in two accumulators whose 32-bit
  // lanes are folded before they can overflow.
  constexpr std::uint64_t kLanes = 0x0000ffff0000ffffULL;
  constexpr std::size_t kBlock = 32768;  // 8-byte steps per fold: each lane stays below 2^31
  std::uint64_t total = 0;
  std::size_t i = 0;
  while (n - i >= 8) {
    std::uint64_t even = 0, odd = 0;
    const std::size_t steps = std::min<std::size_t>((n - i) / 8, kBlock);
    for (std::size_t k = 0; k < steps; ++k, i += 8) {
      std::uint64_t v;
      std::memcpy(&v, data + i, 8);
      even += v & kLanes;
      odd += (v >> 16) & kLanes;
    }
    total += (even & 0xffffffff) + (even >> 32) + (odd & 0xffffffff) + (odd >> 32);
  }
  for (; i + 1 < n; i += 2) total += data[i] | (data[i + 1] << 8);
  if (i < n) total += data[i];
  while (total > 0xffffffff) total = (total & 0xffff) + (total >> 16);
  return (total & 0xffff) + (total >> 16);
}

// Hashes [from, to); with `sum`, also adds the words of those bytes to it (from must be even).
void HashRange(const FileReader& file, EVP_MD_CTX* ctx, std::vector<unsigned char>& buffer,
               std::uint64_t from, std::uint64_t to, std::uint64_t* sum = nullptr) {
  while (from < to) {
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), to - from));
    file.ReadAt(from, buffer.data(), n);
    if (EVP_DigestUpdate(ctx, buffer.data(), n) != 1) throw std::runtime_error("digest failed");
    if (sum) *sum += WordSum(buffer.data(), n);
    from += n;
  }
}

}  // namespace

// What a pass over an image's data (everything before the certificate table) learned: the
// word sum with the checksum field and the security entry counted as zero, and the digest
// state after the data, not yet finalised. Signing reads a large image once: the digest pass
// fills this, padding the image extends it, and writing the certificate table takes the
// checksum from it instead of reading the image again. A state holds only for the file in the
// state it was taken in (stamp); our own table rewrites leave the image data as it is and
// carry it over.
struct Image::State {
  formats::FileStamp stamp;
  std::uint64_t imageEnd = 0;
  std::uint64_t checksumOffset = 0;
  std::uint64_t securityEntryOffset = 0;
  std::uint64_t sum = 0;
  std::shared_ptr<EVP_MD_CTX> digest;  // may be null
};

namespace {

using ImageState = Image::State;

std::shared_ptr<EVP_MD_CTX> CopyDigest(const EVP_MD_CTX* ctx) {
  std::shared_ptr<EVP_MD_CTX> copy(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!copy || EVP_MD_CTX_copy_ex(copy.get(), ctx) != 1) return nullptr;
  return copy;
}

bool EvenFields(const PeLayout& layout) {
  return layout.checksumOffset % 2 == 0 && layout.securityEntryOffset % 2 == 0;
}

bool StateFits(const ImageState& state, const formats::FileStamp& stamp, const PeLayout& layout) {
  return state.stamp == stamp && state.imageEnd == ImageEnd(layout) &&
         state.checksumOffset == layout.checksumOffset &&
         state.securityEntryOffset == layout.securityEntryOffset;
}

// The PE checksum of `file` with the four bytes at `fieldOffset` counted as zero: the sum of
// all little-endian 16-bit words with end-around carry (a trailing odd byte counts as a word
// with a zero high byte), folded to 16 bits, plus the file length.
std::uint32_t Checksum(const FileReader& file, std::uint64_t fieldOffset) {
  std::vector<unsigned char> buffer(std::min<std::uint64_t>(kChunkSize, file.size()));
  std::uint64_t sum = 0;
  for (std::uint64_t pos = 0; pos < file.size();) {
    std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), file.size() - pos));
    file.ReadAt(pos, buffer.data(), n);
    for (std::uint64_t b = fieldOffset; b < fieldOffset + 4; ++b)
      if (b >= pos && b < pos + n) buffer[b - pos] = 0;
    std::size_t i = 0;
    for (; i + 1 < n; i += 2) sum += buffer[i] | (buffer[i + 1] << 8);
    if (i < n) sum += buffer[i];
    // One chunk adds less than 2^36; folding after each keeps `sum` far from overflowing.
    sum = (sum & 0xffff) + (sum >> 16);
    pos += n;
  }
  while (sum > 0xffff) sum = (sum & 0xffff) + (sum >> 16);
  return static_cast<std::uint32_t>(sum) + static_cast<std::uint32_t>(file.size());
}

void WriteChecksum(FileEditor& file, const PeLayout& layout) {
  file.WriteU32At(layout.checksumOffset, Checksum(file, layout.checksumOffset));
}

// The checksum of a file whose image data ending at `imageEnd` has the word sum `imageSum`:
// only the security entry and what follows the image data are read.
std::uint32_t ChecksumFromImageSum(const FileReader& file, const PeLayout& layout,
                                   std::uint64_t imageEnd, std::uint64_t imageSum) {
  unsigned char entry[kDirectoryEntrySize];
  file.ReadAt(layout.securityEntryOffset, entry, sizeof entry);
  std::uint64_t sum = imageSum + WordSum(entry, sizeof entry);
  std::vector<unsigned char> buffer(std::min<std::uint64_t>(kChunkSize, file.size() - imageEnd));
  for (std::uint64_t pos = imageEnd; pos < file.size();) {
    std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), file.size() - pos));
    file.ReadAt(pos, buffer.data(), n);
    sum += WordSum(buffer.data(), n);
    pos += n;
  }
  while (sum > 0xffff) sum = (sum & 0xffff) + (sum >> 16);
  return static_cast<std::uint32_t>(sum) + static_cast<std::uint32_t>(file.size());
}

void WriteSecurityEntry(FileEditor& file, const PeLayout& layout, std::uint32_t offset,
                        std::uint32_t size) {
  file.WriteU32At(layout.securityEntryOffset, offset);
  file.WriteU32At(layout.securityEntryOffset + 4, size);
}

// The length of a DER element with a definite length at the start of `data`, if it has one.
std::optional<std::size_t> DerElementLength(const std::string& data) {
  if (data.size() < 2) return std::nullopt;
  const auto first = static_cast<unsigned char>(data[1]);
  if (first < 0x80) return 2 + static_cast<std::size_t>(first);
  std::size_t octets = first & 0x7f;
  if (octets == 0 || octets > 4 || data.size() < 2 + octets) return std::nullopt;
  std::size_t length = 0;
  for (std::size_t i = 0; i < octets; ++i)
    length = (length << 8) | static_cast<unsigned char>(data[2 + i]);
  return 2 + octets + length;
}

// Some signers count the zero padding of an entry in dwLength. For a PKCS #7 entry the DER
// length tells the two apart; the padding (one to seven zero bytes) is dropped.
void DropCountedPadding(CertificateEntry& entry) {
  if (entry.type != kCertificateTypePkcs7 || entry.data.empty() || entry.data[0] != 0x30) return;
  std::optional<std::size_t> der = DerElementLength(entry.data);
  if (!der || *der >= entry.data.size() || entry.data.size() - *der >= kTableAlignment) return;
  if (entry.data.find_first_not_of('\0', *der) != std::string::npos) return;
  entry.data.resize(*der);
}

std::vector<CertificateEntry> ParseCertificates(const FileReader& file, const PeLayout& layout) {
  std::vector<CertificateEntry> entries;
  if (layout.certTableOffset == 0) return entries;
  if (layout.certTableOffset % kTableAlignment != 0)
    Refuse("certificate table is not on an 8-byte boundary");
  const std::uint64_t size = layout.certTableSize;
  for (std::uint64_t pos = 0; pos < size;) {
    if (size - pos < kCertificateHeaderSize) Refuse("stray bytes after the last certificate");
    if (entries.size() == kMaxCertificateEntries) Refuse("too many certificate entries");
    const std::uint64_t at = layout.certTableOffset + pos;
    const std::uint64_t length = file.U32At(at);
    if (length < kCertificateHeaderSize) Refuse("certificate entry is shorter than its header");
    if (length > size - pos) Refuse("certificate entry runs past the table");
    CertificateEntry entry;
    entry.revision = file.U16At(at + 4);
    entry.type = file.U16At(at + 6);
    entry.data = file.ReadAt(at + kCertificateHeaderSize, length - kCertificateHeaderSize);
    DropCountedPadding(entry);
    entries.push_back(std::move(entry));
    pos += AlignUp(length, kTableAlignment);
  }
  return entries;
}

// Makes the image data end on an 8-byte boundary: pads it with zeros and, when a table follows
// an unaligned image end, moves the table up by the padding. Returns whether anything changed.
bool PadImageData(FileEditor& file, PeLayout& layout) {
  const std::uint64_t end = ImageEnd(layout);
  const std::uint64_t padding = AlignUp(end, kTableAlignment) - end;
  if (padding == 0) return false;
  if (layout.certTableOffset == 0) {
    file.Resize(end + padding);
  } else {
    if (end + padding > std::numeric_limits<std::uint32_t>::max())
      Refuse("certificate table would start beyond 4 GiB");
    file.Resize(file.size() + padding);
    // Copy from the back so that the source is read before the overlapping target is written.
    std::vector<unsigned char> buffer(std::min<std::uint64_t>(kChunkSize, layout.certTableSize));
    for (std::uint64_t left = layout.certTableSize; left > 0;) {
      std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), left));
      left -= n;
      file.ReadAt(end + left, buffer.data(), n);
      file.WriteAt(end + padding + left, buffer.data(), n);
    }
    const unsigned char zeros[kTableAlignment] = {};
    file.WriteAt(end, zeros, static_cast<std::size_t>(padding));
    layout.certTableOffset = static_cast<std::uint32_t>(end + padding);
    WriteSecurityEntry(file, layout, layout.certTableOffset, layout.certTableSize);
  }
  layout.fileSize = file.size();
  return true;
}

}  // namespace

PeLayout ReadLayout(const std::string& path) {
  FileReader file(path);
  return Guarded([&] { return ParseLayout(file); });
}

bool LooksLikePe(const std::string& path) {
  try {
    FileReader file(path);
    if (file.size() < kDosHeaderSize || file.ReadAt(0, 2) != "MZ") return false;
    const std::uint64_t lfanew = file.U32At(kLfanewOffset);
    return file.Contains(lfanew, 4) && file.ReadAt(lfanew, 4) == std::string("PE\0\0", 4);
  } catch (const std::exception&) {
    return false;
  }
}

Image::Image(std::string path) : path_(std::move(path)) {
  Guarded([&] { return ParseLayout(Reader()); });
}

FileReader& Image::Reader() const {
  if (!file_) file_ = std::make_unique<FileReader>(path_);
  return *file_;
}

FileEditor& Image::Editor() {
  if (!editable_) {
    file_ = std::make_unique<FileEditor>(path_);
    editable_ = true;
  }
  return static_cast<FileEditor&>(*file_);
}

Image::Image(std::string path, const Image& original) : Image(std::move(path)) {
  try {
    if (!original.state_) return;
    const FileReader& from = original.Reader();
    const FileReader& to = Reader();
    if (!(from.Stamp() == original.state_->stamp) || from.Stamp().size != to.size()) return;
    state_ = std::make_unique<State>(*original.state_);
    state_->stamp = to.Stamp();
    // Extending the digest must not change the original's state as well.
    if (state_->digest) state_->digest = CopyDigest(state_->digest.get());
  } catch (const std::exception&) {
    state_.reset();
  }
}

Image::~Image() = default;
Image::Image(Image&&) noexcept = default;
Image& Image::operator=(Image&&) noexcept = default;

std::string Image::AuthenticodeDigest(const EVP_MD* md) {
  const FileReader& file = Reader();
  return Guarded([&] {
    const PeLayout layout = ParseLayout(file);
    const formats::FileStamp stamp = file.Stamp();
    EvpMdCtxPtr ctx(EVP_MD_CTX_new());
    if (!ctx) throw std::runtime_error("digest unavailable");
    if (state_ && StateFits(*state_, stamp, layout) && state_->digest &&
        EVP_MD_is_a(EVP_MD_CTX_get0_md(state_->digest.get()), EVP_MD_get0_name(md))) {
      if (EVP_MD_CTX_copy_ex(ctx.get(), state_->digest.get()) != 1)
        throw std::runtime_error("digest failed");
    } else {
      if (EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1)
        throw std::runtime_error("digest unavailable");
      std::vector<unsigned char> buffer(std::min<std::uint64_t>(kChunkSize, file.size()));
      std::uint64_t sum = 0;
      std::uint64_t* words = EvenFields(layout) ? &sum : nullptr;
      HashRange(file, ctx.get(), buffer, 0, layout.checksumOffset, words);
      HashRange(file, ctx.get(), buffer, layout.checksumOffset + 4, layout.securityEntryOffset,
                words);
      // Everything after the security entry up to the table: the rest of the headers, the
      // sections and any data after the last section, in file order.
      HashRange(file, ctx.get(), buffer, layout.securityEntryOffset + kDirectoryEntrySize,
                ImageEnd(layout), words);
      if (words && file.Stamp() == stamp)
        state_ =
            std::make_unique<State>(State{stamp, ImageEnd(layout), layout.checksumOffset,
                                          layout.securityEntryOffset, sum, CopyDigest(ctx.get())});
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1)
      throw std::runtime_error("digest failed");
    return std::string(reinterpret_cast<const char*>(digest), length);
  });
}

void Image::AlignForCertificateTable() {
  FileEditor& file = Editor();
  Guarded([&] {
    PeLayout layout = ParseLayout(file);
    const bool known =
        layout.certTableOffset == 0 && state_ && StateFits(*state_, file.Stamp(), layout);
    const std::uint64_t before = ImageEnd(layout);
    if (!PadImageData(file, layout)) return;
    if (!known) {
      state_.reset();
      WriteChecksum(file, layout);
      return;
    }
    // The zeros just appended belong to the image data: hash them on and keep the state.
    const std::uint64_t after = ImageEnd(layout);
    const unsigned char zeros[kTableAlignment] = {};
    if (state_->digest && EVP_DigestUpdate(state_->digest.get(), zeros,
                                           static_cast<std::size_t>(after - before)) != 1)
      state_->digest.reset();
    file.WriteU32At(layout.checksumOffset, ChecksumFromImageSum(file, layout, after, state_->sum));
    state_->imageEnd = after;
    state_->stamp = file.Stamp();
  });
}

std::vector<CertificateEntry> Image::ReadCertificates() const {
  const FileReader& file = Reader();
  return Guarded([&] { return ParseCertificates(file, ParseLayout(file)); });
}

std::string Image::ReadSignature() const {
  for (CertificateEntry& entry : ReadCertificates())
    if (entry.type == kCertificateTypePkcs7) return std::move(entry.data);
  return {};
}

void Image::ReplaceSignature(const std::string& pkcs7Der) {
  if (pkcs7Der.empty()) throw std::invalid_argument("empty signature");
  if (pkcs7Der.size() > std::numeric_limits<std::uint32_t>::max() - 2 * kTableAlignment)
    throw std::invalid_argument("signature is too large");
  FileEditor& file = Editor();
  Guarded([&] {
    PeLayout layout = ParseLayout(file);
    if (state_ && !StateFits(*state_, file.Stamp(), layout)) state_.reset();
    // Cut off the old table first, so that padding the image never moves it along.
    if (layout.certTableOffset != 0) {
      file.Resize(layout.certTableOffset);
      layout.certTableOffset = layout.certTableSize = 0;
      layout.fileSize = file.size();
    }
    // The padding is zeros, which add nothing to the word sum, but the digest state no longer
    // describes the image data.
    if (PadImageData(file, layout) && state_) {
      state_->digest.reset();
      state_->imageEnd = ImageEnd(layout);
    }
    const std::uint64_t offset = file.size();
    const std::uint64_t length = kCertificateHeaderSize + pkcs7Der.size();
    const std::uint64_t padded = AlignUp(length, kTableAlignment);
    if (offset > std::numeric_limits<std::uint32_t>::max())
      Refuse("certificate table would start beyond 4 GiB");

    unsigned char header[kCertificateHeaderSize] = {
        static_cast<unsigned char>(length),
        static_cast<unsigned char>(length >> 8),
        static_cast<unsigned char>(length >> 16),
        static_cast<unsigned char>(length >> 24),
        static_cast<unsigned char>(kCertificateRevision),
        static_cast<unsigned char>(kCertificateRevision >> 8),
        static_cast<unsigned char>(kCertificateTypePkcs7),
        static_cast<unsigned char>(kCertificateTypePkcs7 >> 8)};
    file.WriteAt(offset, header, sizeof header);
    file.WriteAt(offset + kCertificateHeaderSize, pkcs7Der);
    file.Resize(offset + padded);  // the zero padding after the entry
    // The directory covers the whole table including its padding; dwLength does not count the
    // padding, readers round it up to the next entry.
    WriteSecurityEntry(file, layout, static_cast<std::uint32_t>(offset),
                       static_cast<std::uint32_t>(padded));
    if (state_ && offset == ImageEnd(layout)) {
      file.WriteU32At(layout.checksumOffset,
                      ChecksumFromImageSum(file, layout, offset, state_->sum));
      // The image data is as it was: what was learned about it holds for the file as it is now.
      state_->stamp = file.Stamp();
    } else {
      state_.reset();
      WriteChecksum(file, layout);
    }
  });
}

void Image::RemoveSignatures() {
  FileEditor& file = Editor();
  Guarded([&] {
    const PeLayout layout = ParseLayout(file);
    if (layout.certTableOffset == 0) return;
    file.Resize(layout.certTableOffset);
    WriteSecurityEntry(file, layout, 0, 0);
    WriteChecksum(file, layout);
  });
  state_.reset();
}

std::string AuthenticodeDigest(const std::string& path, const EVP_MD* md) {
  return Image(path).AuthenticodeDigest(md);
}

void AlignForCertificateTable(const std::string& path) { Image(path).AlignForCertificateTable(); }

std::vector<CertificateEntry> ReadCertificates(const std::string& path) {
  return Image(path).ReadCertificates();
}

std::string ReadSignature(const std::string& path) { return Image(path).ReadSignature(); }

void ReplaceSignature(const std::string& path, const std::string& pkcs7Der) {
  Image(path).ReplaceSignature(pkcs7Der);
}

void RemoveSignatures(const std::string& path) { Image(path).RemoveSignatures(); }

std::uint32_t ComputeChecksum(const std::string& path) {
  FileReader file(path);
  return Guarded([&] { return Checksum(file, ParseLayout(file).checksumOffset); });
}

}  // namespace corvane::pe
