#include "formats/cab/cab_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/sibling_file.h"
#include "crypto/openssl_ptr.h"
#include "formats/file_reader.h"

namespace corvane::cab {
namespace {

using formats::FileEditor;
using formats::FileReader;

constexpr std::size_t kChunkSize = 64 * 1024;
constexpr std::uint64_t kFixedHeaderSize = 36;
constexpr std::uint64_t kReserveFieldsEnd = 40;  // cbCFHeader, cbCFFolder, cbCFData at 36..39
constexpr std::uint64_t kSignedHeaderEnd = kReserveFieldsEnd + kSignatureReserveSize;  // 60
constexpr std::uint64_t kFolderEntrySize = 8;    // coffCabStart, cCFData, typeCompress
constexpr std::uint64_t kDataEntrySize = 8;      // csum, cbData, cbUncomp
constexpr std::uint64_t kMinFileEntrySize = 17;  // 16 bytes of fields and an empty name's NUL
constexpr std::uint16_t kMaxHeaderReserve = 60000;
constexpr std::size_t kMaxSetNameSize = 256;  // 255 bytes and the NUL
constexpr std::uint64_t kMaxField = 0xFFFFFFFFu;

[[noreturn]] void Malformed(const std::string& what) { throw CabFormatError(what); }

[[noreturn]] void RaiseErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

std::uint16_t Le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

std::uint32_t Le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void PutLe16(unsigned char* p, std::uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}

void PutLe32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// Reads exactly `length` bytes at `offset`; a range outside the file, or a file that shrank
// while it was read, is a malformed cabinet.
void Read(const FileReader& file, std::uint64_t offset, void* out, std::size_t length) {
  if (!file.Contains(offset, length))
    Malformed("the cabinet ends at " + std::to_string(file.size()) + " bytes, before " +
              std::to_string(offset + length));
  try {
    file.ReadAt(offset, out, length);
  } catch (const formats::FileRangeError&) {
    Malformed("the cabinet became shorter while it was read");
  }
}

void WriteLe32(FileEditor& file, std::uint64_t offset, std::uint32_t value) {
  file.WriteU32At(offset, value);
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) RaiseErrno("cannot stat " + path);
  return st.st_mode & 07777;
}

[[noreturn]] void RaiseWriteError(const std::string& what) {
  throw CabWriteError(errno, std::generic_category(), what);
}

// A new file, written front to back, that takes the target's name (and permissions) on
// Commit. It is created beside the target under a unique name; until Commit the target is
// untouched and an uncommitted file is removed. Nothing is flushed to the disk: what is
// rewritten here is a working copy, which a crash loses in any case.
class Replacement {
 public:
  // `direct`: write `target` itself (truncated), for a file nobody else has seen yet.
  Replacement(const std::string& target, mode_t mode, bool direct = false)
      : target_(target), direct_(direct) {
    if (direct) {
      temp_ = target;
      fd_ = ::open(temp_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
      if (fd_ < 0) RaiseErrno("cannot create " + temp_);
      return;
    }
    // Created as mkstemp makes it (owner only), then given `mode`: the two failures differ.
    const bool created = sibling_.Create(target, 0600, ".corvane-XXXXXX");
    temp_ = sibling_.path();
    if (!created) RaiseErrno("cannot create " + temp_);
    fd_ = sibling_.descriptor();
    if (::fchmod(fd_, mode) != 0) {
      const int saved = errno;
      sibling_.Discard();
      fd_ = -1;
      errno = saved;
      RaiseWriteError("cannot set the permissions of " + temp_);
    }
  }
  ~Replacement() {
    if (direct_ && fd_ >= 0) ::close(fd_);
  }
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;

  void Append(const void* data, std::size_t length) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (length > 0) {
      const ssize_t n = ::write(fd_, p, length);
      if (n < 0) {
        if (errno == EINTR) continue;
        RaiseWriteError("cannot write " + temp_);
      }
      p += n;
      length -= static_cast<std::size_t>(n);
    }
  }
  void Append(std::string_view bytes) { Append(bytes.data(), bytes.size()); }
  void AppendLe32(std::uint32_t value) {
    unsigned char b[4];
    PutLe32(b, value);
    Append(b, sizeof b);
  }
  void AppendZeros(std::uint64_t count) {
    static const unsigned char kZeros[4096] = {};
    while (count > 0) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, sizeof kZeros));
      Append(kZeros, n);
      count -= n;
    }
  }

  // Copies [begin, end) of `in`, in the kernel where it can (at most kCopyChunk a call),
  // else through `buffer`.
  void CopyFrom(const FileReader& in, std::uint64_t begin, std::uint64_t end,
                std::vector<unsigned char>& buffer) {
    if (end > in.size()) Malformed("the cabinet became shorter while it was read");
    while (kernelCopy_ && begin < end) {
      auto from = static_cast<off_t>(begin);
      const std::size_t n =
          static_cast<std::size_t>(std::min<std::uint64_t>(end - begin, kCopyChunk));
      const ssize_t done = ::copy_file_range(in.descriptor(), &from, fd_, nullptr, n, 0);
      if (done > 0) {
        begin += static_cast<std::uint64_t>(done);
      } else if (done == 0) {
        Malformed("the cabinet became shorter while it was read");
      } else if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) {
        kernelCopy_ = false;
      } else if (errno != EINTR) {
        RaiseWriteError("cannot copy into " + temp_);
      }
    }
    while (begin < end) {
      const std::size_t n =
          static_cast<std::size_t>(std::min<std::uint64_t>(end - begin, buffer.size()));
      Read(in, begin, buffer.data(), n);
      Append(buffer.data(), n);
      begin += n;
    }
  }

  void Commit() {
    const int fd = fd_;
    fd_ = -1;
    if (!direct_) {
      if (!sibling_.Commit(false)) RaiseWriteError("cannot replace " + target_);
    } else if (::close(fd) != 0) {
      const int saved = errno;
      ::unlink(temp_.c_str());
      errno = saved;
      RaiseWriteError("cannot replace " + target_);
    }
  }

 private:
  static constexpr std::size_t kCopyChunk = 64u << 20;

  std::string target_;
  std::string temp_;
  bool direct_ = false;
  SiblingFile sibling_;
  int fd_ = -1;
  bool kernelCopy_ = true;
};

// Calls fn(entry, index) for each of `count` entries of `entrySize` bytes at `offset`, reading
// whole entries a buffer at a time.
template <typename Fn>
void ForEachEntry(const FileReader& file, std::uint64_t offset, std::uint32_t count,
                  std::size_t entrySize, std::vector<unsigned char>& buffer, Fn&& fn) {
  const std::size_t perChunk = buffer.size() / entrySize;
  for (std::uint32_t i = 0; i < count;) {
    const std::size_t n = std::min<std::size_t>(perChunk, count - i);
    Read(file, offset + std::uint64_t{i} * entrySize, buffer.data(), n * entrySize);
    for (std::size_t k = 0; k < n; ++k) fn(buffer.data() + k * entrySize, i + k);
    i += static_cast<std::uint32_t>(n);
  }
}

// The offset just past the NUL-terminated set name (cabinet or disk name) at `offset`.
std::uint64_t SkipSetName(const FileReader& file, std::uint64_t offset) {
  unsigned char name[kMaxSetNameSize];
  const std::size_t available =
      offset < file.size()
          ? static_cast<std::size_t>(std::min<std::uint64_t>(file.size() - offset, kMaxSetNameSize))
          : 0;
  Read(file, offset, name, available);
  const void* nul = std::memchr(name, 0, available);
  if (!nul)
    Malformed(available < kMaxSetNameSize ? "a cabinet set name runs past the end of the file"
                                          : "a cabinet set name is longer than 255 bytes");
  return offset + static_cast<std::uint64_t>(static_cast<const unsigned char*>(nul) - name) + 1;
}

std::uint64_t FolderEntrySize(const CabLayout& layout) {
  return kFolderEntrySize + layout.folderReserveSize;
}

std::uint64_t FolderTableEnd(const CabLayout& layout) {
  return layout.folderTableOffset + std::uint64_t{layout.folderCount} * FolderEntrySize(layout);
}

CabLayout ParseLayout(const FileReader& file, std::vector<unsigned char>& buffer) {
  CabLayout layout;
  layout.fileSize = file.size();
  if (layout.fileSize < kFixedHeaderSize) Malformed("the file is too short for a cabinet header");
  unsigned char h[kSignedHeaderEnd];
  Read(file, 0, h, kFixedHeaderSize);
  if (std::memcmp(h, "MSCF", 4) != 0) Malformed("not a cabinet: no MSCF signature");
  layout.cabinetSize = Le32(h + 8);
  layout.filesOffset = Le32(h + 16);
  layout.versionMinor = h[24];
  layout.versionMajor = h[25];
  layout.folderCount = Le16(h + 26);
  layout.fileCount = Le16(h + 28);
  layout.flags = Le16(h + 30);
  layout.setId = Le16(h + 32);
  layout.cabinetIndex = Le16(h + 34);
  if (layout.versionMajor != 1)
    Malformed("unsupported cabinet format version " + std::to_string(layout.versionMajor) + "." +
              std::to_string(layout.versionMinor));

  std::uint64_t pos = kFixedHeaderSize;
  if (layout.flags & kFlagReservePresent) {
    Read(file, kFixedHeaderSize, h + kFixedHeaderSize, kReserveFieldsEnd - kFixedHeaderSize);
    layout.headerReserveSize = Le16(h + 36);
    layout.folderReserveSize = h[38];
    layout.dataReserveSize = h[39];
    if (layout.headerReserveSize > kMaxHeaderReserve)
      Malformed("a header reserve of " + std::to_string(layout.headerReserveSize) +
                " bytes is larger than a cabinet allows");
    pos = kReserveFieldsEnd + layout.headerReserveSize;
    if (pos > layout.fileSize) Malformed("the header reserve runs past the end of the file");
    if (layout.headerReserveSize == kSignatureReserveSize) {
      Read(file, kReserveFieldsEnd, h + kReserveFieldsEnd, kSignatureReserveSize);
      if (Le32(h + 40) == kSignatureReserveMarker) {
        layout.signatureReserve = true;
        layout.signatureOffset = Le32(h + kSignatureOffsetField);
        layout.signatureAreaSize = Le32(h + kSignatureSizeField);
      }
    }
  }
  const int names =
      (layout.flags & kFlagPrevCabinet ? 2 : 0) + (layout.flags & kFlagNextCabinet ? 2 : 0);
  for (int i = 0; i < names; ++i) pos = SkipSetName(file, pos);
  layout.folderTableOffset = static_cast<std::uint32_t>(pos);  // at most 40 + 60000 + 4 * 256

  if (layout.cabinetSize > layout.fileSize)
    Malformed("cbCabinet says " + std::to_string(layout.cabinetSize) + " bytes, the file has " +
              std::to_string(layout.fileSize));
  const std::uint64_t tableEnd = FolderTableEnd(layout);
  if (tableEnd > layout.cabinetSize)
    Malformed("the table of " + std::to_string(layout.folderCount) +
              " folders runs past the end of the cabinet");
  if (layout.filesOffset < tableEnd || layout.filesOffset > layout.cabinetSize)
    Malformed("coffFiles " + std::to_string(layout.filesOffset) + " is outside the cabinet");
  if (layout.filesOffset + std::uint64_t{layout.fileCount} * kMinFileEntrySize > layout.cabinetSize)
    Malformed("the table of " + std::to_string(layout.fileCount) +
              " files runs past the end of the cabinet");

  const std::uint64_t dataEntrySize = kDataEntrySize + layout.dataReserveSize;
  ForEachEntry(
      file, layout.folderTableOffset, layout.folderCount,
      static_cast<std::size_t>(FolderEntrySize(layout)), buffer,
      [&](const unsigned char* entry, std::size_t index) {
        const std::uint64_t start = Le32(entry);
        const std::uint64_t blocks = Le16(entry + 4);
        if (start < tableEnd || start + blocks * dataEntrySize > layout.cabinetSize)
          Malformed("the data of folder " + std::to_string(index) + " lies outside the cabinet");
      });

  if (layout.HasSignature()) {
    if (layout.signatureOffset != layout.cabinetSize)
      Malformed("the signature starts at " + std::to_string(layout.signatureOffset) +
                ", not where the cabinet ends (" + std::to_string(layout.cabinetSize) + ")");
    if (std::uint64_t{layout.signatureOffset} + layout.signatureAreaSize > layout.fileSize)
      Malformed("the signature area runs past the end of the file");
  }
  return layout;
}

// The size of the DER element (tag, length and contents) that `p` starts with, when the
// first `available` bytes hold a definite-length SEQUENCE header.
std::optional<std::uint64_t> DerElementSize(const unsigned char* p, std::size_t available) {
  if (available < 2 || p[0] != 0x30) return std::nullopt;
  if (p[1] < 0x80) return 2 + std::uint64_t{p[1]};
  const std::size_t octets = p[1] & 0x7f;
  if (octets == 0 || octets > 4 || available < 2 + octets) return std::nullopt;
  std::uint64_t length = 0;
  for (std::size_t i = 0; i < octets; ++i) length = length << 8 | p[2 + i];
  return 2 + octets + length;
}

// The length of `der` after checking that it is exactly one DER element of allowed size.
std::uint32_t CheckedSignatureLength(const std::string& der) {
  const auto size = DerElementSize(reinterpret_cast<const unsigned char*>(der.data()), der.size());
  if (!size || *size != der.size())
    throw std::invalid_argument("the signature is not a single DER element");
  if (der.size() > kMaxSignatureSize)
    throw std::invalid_argument("a signature of " + std::to_string(der.size()) +
                                " bytes is larger than a cabinet takes");
  return static_cast<std::uint32_t>(der.size());
}

// Cabinets after the first of a set are not signed: implementations differ on whether iCabinet
// is digested (it is not here, as osslsigncode does), and osslsigncode refuses them outright.
void RequireSignable(const CabLayout& layout) {
  if ((layout.flags & kFlagPrevCabinet) || layout.cabinetIndex != 0)
    Malformed("the cabinet continues a cabinet set (number " + std::to_string(layout.cabinetIndex) +
              "); such cabinets are not signed");
}

[[noreturn]] void NoSignatureReserve() {
  Malformed("the cabinet has no signature reserve; prepare it for signing first");
}

void HashRange(const FileReader& file, EVP_MD_CTX* ctx, std::vector<unsigned char>& buffer,
               std::uint64_t begin, std::uint64_t end) {
  while (begin < end) {
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(end - begin, buffer.size()));
    Read(file, begin, buffer.data(), n);
    if (EVP_DigestUpdate(ctx, buffer.data(), n) != 1) throw std::runtime_error("digest failed");
    begin += n;
  }
}

// The digest with `md` of the bytes of `file` in `ranges` ([begin, end), in order).
std::string DigestRanges(const FileReader& file, const EVP_MD* md,
                         std::vector<unsigned char>& buffer,
                         std::initializer_list<std::pair<std::uint64_t, std::uint64_t>> ranges) {
  EvpMdCtxPtr ctx(EVP_MD_CTX_new());
  if (!ctx || !md || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1)
    throw std::runtime_error("digest unavailable");
  for (const auto& [begin, end] : ranges) HashRange(file, ctx.get(), buffer, begin, end);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1)
    throw std::runtime_error("digest failed");
  return std::string(reinterpret_cast<const char*>(digest), length);
}

// Writes the cabinet of `file` as signing prepares it into `out`: with the signature reserve
// (inserted, every offset behind it moved, when the cabinet has none) and no signature area.
template <typename Sink>
void EmitPrepared(const FileReader& file, const CabLayout& layout, Sink& out,
                  std::vector<unsigned char>& buffer) {
  unsigned char head[kSignedHeaderEnd] = {};
  if (layout.signatureReserve) {
    Read(file, 0, head, sizeof head);
    PutLe32(head + kSignatureOffsetField, layout.cabinetSize);
    PutLe32(head + kSignatureSizeField, 0);
    out.Append(head, sizeof head);
    out.CopyFrom(file, kSignedHeaderEnd, layout.cabinetSize, buffer);
    return;
  }
  const bool hadReserveFields = layout.flags & kFlagReservePresent;
  if (hadReserveFields && layout.headerReserveSize != 0)
    Malformed("the cabinet's header reserve of " + std::to_string(layout.headerReserveSize) +
              " bytes is in use and cannot hold a signature");

  // The signature reserve goes in right after the fixed header, or after the reserve-size
  // fields when the cabinet already has them (for per-folder or per-data reserves).
  const std::uint64_t insertAt = hadReserveFields ? kReserveFieldsEnd : kFixedHeaderSize;
  const std::uint32_t growth = static_cast<std::uint32_t>(kSignedHeaderEnd - insertAt);
  if (std::uint64_t{layout.cabinetSize} + growth > kMaxField)
    Malformed("the cabinet is too large to take a signature reserve");
  const std::uint32_t cabinetSize = layout.cabinetSize + growth;

  Read(file, 0, head, kFixedHeaderSize);
  PutLe32(head + 8, cabinetSize);
  PutLe32(head + 16, layout.filesOffset + growth);
  PutLe16(head + 30, layout.flags | kFlagReservePresent);
  PutLe16(head + 36, kSignatureReserveSize);
  head[38] = layout.folderReserveSize;
  head[39] = layout.dataReserveSize;
  PutLe32(head + 40, kSignatureReserveMarker);
  PutLe32(head + kSignatureOffsetField, cabinetSize);
  PutLe32(head + kSignatureSizeField, 0);  // 52..59 stay zero

  out.Append(head, sizeof head);
  out.CopyFrom(file, insertAt, layout.folderTableOffset, buffer);  // the set names
  const auto entrySize = static_cast<std::size_t>(FolderEntrySize(layout));
  std::vector<unsigned char> entries(buffer.size());
  ForEachEntry(file, layout.folderTableOffset, layout.folderCount, entrySize, entries,
               [&](unsigned char* entry, std::size_t) {
                 PutLe32(entry, Le32(entry) + growth);
                 out.Append(entry, entrySize);
               });
  out.CopyFrom(file, FolderTableEnd(layout), layout.cabinetSize, buffer);
}

// Hashes what is written to it as the Authenticode digest covers a prepared cabinet: all but
// bytes 4..7 and 34..55.
class DigestSink {
 public:
  explicit DigestSink(EVP_MD_CTX* ctx) : ctx_(ctx) {}
  void Append(const void* data, std::size_t length) {
    const auto* p = static_cast<const unsigned char*>(data);
    const std::uint64_t begin = pos_, end = pos_ + length;
    for (const auto& [from, to] : kCovered) {
      const std::uint64_t a = std::max(begin, from), b = std::min(end, to);
      if (a < b && EVP_DigestUpdate(ctx_, p + (a - begin), static_cast<std::size_t>(b - a)) != 1)
        throw std::runtime_error("digest failed");
    }
    pos_ = end;
  }
  void CopyFrom(const FileReader& in, std::uint64_t begin, std::uint64_t end,
                std::vector<unsigned char>& buffer) {
    while (begin < end) {
      const std::size_t n =
          static_cast<std::size_t>(std::min<std::uint64_t>(end - begin, buffer.size()));
      Read(in, begin, buffer.data(), n);
      Append(buffer.data(), n);
      begin += n;
    }
  }
  std::string Final() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx_, digest, &length) != 1) throw std::runtime_error("digest failed");
    return std::string(reinterpret_cast<const char*>(digest), length);
  }

 private:
  static constexpr std::pair<std::uint64_t, std::uint64_t> kCovered[] = {
      {0, 4}, {8, 34}, {56, ~std::uint64_t{0}}};
  EVP_MD_CTX* ctx_;
  std::uint64_t pos_ = 0;
};

}  // namespace

CabLayout ReadLayout(const std::string& path) {
  FileReader file(path);
  std::vector<unsigned char> buffer(kChunkSize);
  return ParseLayout(file, buffer);
}

void PrepareForSigning(const std::string& path) {
  std::vector<unsigned char> buffer(kChunkSize);
  CabLayout layout;
  {
    FileEditor file(path);
    layout = ParseLayout(file, buffer);
    RequireSignable(layout);
    if (layout.signatureReserve) {
      if (layout.fileSize > layout.cabinetSize) file.Resize(layout.cabinetSize);
      if (layout.signatureOffset != layout.cabinetSize)
        WriteLe32(file, kSignatureOffsetField, layout.cabinetSize);
      if (layout.signatureAreaSize != 0) WriteLe32(file, kSignatureSizeField, 0);
      return;
    }
  }
  CopyPreparedForSigning(path, path);
}

void CopyPreparedForSigning(const std::string& source, const std::string& target) {
  FileReader file(source);
  std::vector<unsigned char> buffer(kChunkSize);
  const CabLayout layout = ParseLayout(file, buffer);
  RequireSignable(layout);
  Replacement out(target, ModeOf(source));
  EmitPrepared(file, layout, out, buffer);
  out.Commit();
}

void CopyForSigning(const std::string& source, const std::string& target) {
  FileReader file(source);
  std::vector<unsigned char> buffer(kChunkSize);
  const CabLayout layout = ParseLayout(file, buffer);
  RequireSignable(layout);
  Replacement out(target, ModeOf(source), /*direct=*/true);
  if (layout.signatureReserve)
    out.CopyFrom(file, 0, layout.fileSize, buffer);
  else
    EmitPrepared(file, layout, out, buffer);
  out.Commit();
}

std::string PreparedDigest(const std::string& source, const EVP_MD* md) {
  FileReader file(source);
  std::vector<unsigned char> buffer(kChunkSize);
  const CabLayout layout = ParseLayout(file, buffer);
  RequireSignable(layout);
  EvpMdCtxPtr ctx(EVP_MD_CTX_new());
  if (!ctx || !md || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1)
    throw std::runtime_error("digest unavailable");
  DigestSink sink(ctx.get());
  EmitPrepared(file, layout, sink, buffer);
  return sink.Final();
}

std::string AuthenticodeDigest(const std::string& path, const EVP_MD* md) {
  FileReader file(path);
  std::vector<unsigned char> buffer(kChunkSize);
  const CabLayout layout = ParseLayout(file, buffer);
  if (!layout.signatureReserve) NoSignatureReserve();
  RequireSignable(layout);
  // "MSCF", cbCabinet .. setID, then the last four bytes of the reserve, the set names,
  // folders, files and data.
  return DigestRanges(file, md, buffer, {{0, 4}, {8, 34}, {56, layout.cabinetSize}});
}

std::string UnreservedDigest(const std::string& path, const EVP_MD* md) {
  FileReader file(path);
  std::vector<unsigned char> buffer(kChunkSize);
  const std::uint64_t size = file.size();
  return DigestRanges(
      file, md, buffer,
      {{0, std::min<std::uint64_t>(4, size)}, {8, std::max<std::uint64_t>(8, size)}});
}

void WriteSignature(const std::string& path, const std::string& pkcs7Der) {
  const std::uint32_t length = CheckedSignatureLength(pkcs7Der);
  FileEditor file(path);
  std::vector<unsigned char> buffer(kChunkSize);
  const CabLayout layout = ParseLayout(file, buffer);
  if (!layout.signatureReserve) NoSignatureReserve();
  const std::uint32_t padding = (8 - length % 8) % 8;
  const std::uint64_t area = std::uint64_t{length} + padding;
  if (layout.cabinetSize + area > kMaxField)
    Malformed("the cabinet is too large to take a signature");

  file.Resize(layout.cabinetSize);
  file.WriteAt(layout.cabinetSize, pkcs7Der.data(), length);
  const unsigned char zeros[8] = {};
  file.WriteAt(layout.cabinetSize + length, zeros, padding);
  WriteLe32(file, kSignatureOffsetField, layout.cabinetSize);
  WriteLe32(file, kSignatureSizeField, static_cast<std::uint32_t>(area));
}

std::string ReadSignature(const std::string& path) {
  FileReader file(path);
  std::vector<unsigned char> buffer(kChunkSize);
  const CabLayout layout = ParseLayout(file, buffer);
  if (!layout.HasSignature()) return {};
  unsigned char head[6];
  const std::size_t available = std::min<std::size_t>(sizeof head, layout.signatureAreaSize);
  Read(file, layout.signatureOffset, head, available);
  const auto size = DerElementSize(head, available);
  if (!size || *size > layout.signatureAreaSize)
    Malformed("the signature area does not start with a DER signature that fits it");
  if (*size > kMaxSignatureSize)
    Malformed("the signature of " + std::to_string(*size) + " bytes is larger than allowed");
  std::string der(static_cast<std::size_t>(*size), '\0');
  Read(file, layout.signatureOffset, der.data(), der.size());
  return der;
}

namespace {

struct Replacing {
  CabLayout layout;
  std::uint32_t padding = 0;
  std::uint32_t area = 0;
};

Replacing PlanReplacement(const FileReader& file, std::vector<unsigned char>& buffer,
                          std::uint32_t oldSignatureLength, std::uint32_t length) {
  Replacing plan;
  plan.layout = ParseLayout(file, buffer);
  if (!plan.layout.HasSignature()) Malformed("the cabinet has no signature to replace");
  if (oldSignatureLength > plan.layout.signatureAreaSize)
    throw std::invalid_argument("a signature of " + std::to_string(oldSignatureLength) +
                                " bytes does not fit the signature area of " +
                                std::to_string(plan.layout.signatureAreaSize));
  // The old signature's padding carries over as it was, whatever the new length.
  plan.padding = (plan.layout.signatureAreaSize - oldSignatureLength) & 0xFFFF;
  const std::uint64_t area = std::uint64_t{length} + plan.padding;
  if (plan.layout.signatureOffset + area > kMaxField)
    Malformed("the cabinet is too large to take the signature");
  plan.area = static_cast<std::uint32_t>(area);
  return plan;
}

}  // namespace

void ReplaceSignature(const std::string& path, std::uint32_t oldSignatureLength,
                      const std::string& finalDer) {
  const std::uint32_t length = CheckedSignatureLength(finalDer);
  FileReader file(path);
  std::vector<unsigned char> buffer(kChunkSize);
  const Replacing plan = PlanReplacement(file, buffer, oldSignatureLength, length);
  Replacement out(path, ModeOf(path));
  out.CopyFrom(file, 0, kSignatureSizeField, buffer);
  out.AppendLe32(plan.area);
  out.CopyFrom(file, kSignatureSizeField + 4, plan.layout.signatureOffset, buffer);
  out.Append(finalDer);
  out.AppendZeros(plan.padding);
  out.Commit();
}

void ReplaceSignatureInPlace(const std::string& path, std::uint32_t oldSignatureLength,
                             const std::string& finalDer) {
  const std::uint32_t length = CheckedSignatureLength(finalDer);
  FileEditor file(path);
  std::vector<unsigned char> buffer(kChunkSize);
  const Replacing plan = PlanReplacement(file, buffer, oldSignatureLength, length);
  try {
    file.WriteAt(plan.layout.signatureOffset, finalDer);
    file.WriteAt(plan.layout.signatureOffset + length, std::string(plan.padding, '\0'));
    file.Resize(std::uint64_t{plan.layout.signatureOffset} + plan.area);
    WriteLe32(file, kSignatureSizeField, plan.area);
  } catch (const std::system_error& e) {
    throw CabWriteError(e.code(), e.what());
  }
}

const unsigned char kProbeCabinet[89] = {
    0x4d, 0x53, 0x43, 0x46, 0x00, 0x00, 0x00, 0x00, 0x59, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x2c, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x01, 0x01, 0x00, 0x01, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x47, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x06,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xf8, 0x46, 0xc3, 0x54, 0x20, 0x01,
    0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x2e, 0x74, 0x78, 0x74, 0x00, 0x7b, 0x7e, 0x04, 0x01,
    0x0a, 0x00, 0x06, 0x00, 0x43, 0x4b, 0x33, 0x34, 0x32, 0x36, 0x31, 0x35, 0x03, 0x00};

}  // namespace corvane::cab
