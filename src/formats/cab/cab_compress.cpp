#include "formats/cab/cab_compress.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "base/paths.h"
#include "base/sibling_file.h"
#include "base/utf8.h"

namespace corvane::Cabinet {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kBlockSize = 32768;       // uncompressed bytes of a full data block
constexpr std::uint32_t kMaxBlocks = 0xFFFF;    // cCFData is 16 bits
constexpr std::size_t kMaxEntries = 0xFFFF;     // cFiles is 16 bits
constexpr std::size_t kMaxNameBytes = 255;      // szName without its NUL
constexpr std::size_t kMaxPathPartBytes = 255;  // cabinet name and folder
constexpr std::uint64_t kHeaderSize = 36;       // CFHEADER without reserve or set names
constexpr std::uint64_t kFolderEntrySize = 8;   // one CFFOLDER
constexpr std::uint64_t kFileEntryFields = 16;  // CFFILE before szName
constexpr std::uint64_t kDataHeaderSize = 8;    // CFDATA before its bytes
constexpr std::uint16_t kTypeMszip = 1;
constexpr std::size_t kIoChunk = 1 << 20;

std::atomic<int> g_instances{0};

void PutLe16(unsigned char* p, std::uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}

void PutLe32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

void AppendLe16(std::string& out, std::uint16_t v) {
  unsigned char b[2];
  PutLe16(b, v);
  out.append(reinterpret_cast<char*>(b), 2);
}

void AppendLe32(std::string& out, std::uint32_t v) {
  unsigned char b[4];
  PutLe32(b, v);
  out.append(reinterpret_cast<char*>(b), 4);
}

// The cabinet checksum: the XOR of the data taken as little-endian 32-bit words, the last
// partial word with its bytes in reverse order, starting from `seed`.
std::uint32_t Checksum(const unsigned char* p, std::size_t n, std::uint32_t seed) {
  std::uint32_t sum = seed;
  std::size_t words = n / 4;
  for (; words > 0; --words, p += 4)
    sum ^= static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
  std::uint32_t last = 0;
  switch (n % 4) {
    case 3:
      last |= static_cast<std::uint32_t>(*p++) << 16;
      [[fallthrough]];
    case 2:
      last |= static_cast<std::uint32_t>(*p++) << 8;
      [[fallthrough]];
    case 1:
      last |= *p;
      break;
    default:
      break;
  }
  return sum ^ last;
}

}  // namespace

std::uint16_t FileAttributes(int fd, const std::string& name) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return 0;
  std::uint16_t attributes = 0x20;  // archive
  if (!(st.st_mode & S_IWUSR)) attributes |= 0x01;
  if (!name.empty() && name[0] == '.') attributes |= 0x02;
  return attributes;
}

void ToDosDateTime(std::int64_t utc, std::uint16_t& date, std::uint16_t& time) {
  constexpr std::int64_t kFirst = 315532800;  // 1980-01-01 00:00:00
  constexpr std::int64_t kLast = 4354819198;  // 2107-12-31 23:59:58
  const std::time_t t = static_cast<std::time_t>(std::min(std::max(utc, kFirst), kLast));
  std::tm tm{};
  gmtime_r(&t, &tm);
  date = static_cast<std::uint16_t>((tm.tm_year - 80) << 9 | (tm.tm_mon + 1) << 5 | tm.tm_mday);
  time = static_cast<std::uint16_t>(tm.tm_hour << 11 | tm.tm_min << 5 | tm.tm_sec / 2);
}

CCompress::CCompress(const std::string& tempFolder)
    : owner_(std::this_thread::get_id()), instance_(++g_instances) {
  tempFolder_ = tempFolder.empty() ? TemporaryDirectory() : tempFolder;
  if (tempFolder_.back() != '/') tempFolder_ += '/';
  std::error_code ec;
  fs::create_directories(tempFolder_, ec);
}

CCompress::~CCompress() {
  if (owner_ == std::this_thread::get_id()) CloseCabinet();
  DropTemporaryFile();
}

int CCompress::FileOpen(const std::string& name, int flags, mode_t mode) {
  const int fd = ::open(name.c_str(), flags | O_CLOEXEC, mode);
  if (fd < 0) lastErrno_ = errno;
  return fd;
}

bool CCompress::FileRead(int fd, void* buffer, std::size_t count) {
  auto* p = static_cast<unsigned char*>(buffer);
  while (count > 0) {
    const ssize_t n = ::read(fd, p, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      lastErrno_ = n < 0 ? errno : EIO;
      return false;
    }
    p += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

bool CCompress::FileWrite(int fd, const void* buffer, std::size_t count) {
  const auto* p = static_cast<const unsigned char*>(buffer);
  while (count > 0) {
    const ssize_t n = ::write(fd, p, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      lastErrno_ = n < 0 ? errno : EIO;
      return false;
    }
    p += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

bool CCompress::FileClose(int fd) {
  if (::close(fd) == 0) return true;
  lastErrno_ = errno;
  return false;
}

bool CCompress::FileDelete(const std::string& name) {
  if (std::remove(name.c_str()) == 0) return true;
  lastErrno_ = errno;
  return false;
}

off_t CCompress::FileSeek(int fd, off_t offset, int origin) {
  const off_t at = ::lseek(fd, offset, origin);
  if (at < 0) lastErrno_ = errno;
  return at;
}

bool CCompress::Fail(const std::string& why) {
  lastError_ = why;
  return false;
}

bool CCompress::OnOwnerThread() {
  if (owner_ == std::this_thread::get_id()) return true;
  return Fail("the compressor belongs to another thread");
}

// "CabTmp_II_CC": the instance and a counter, skipping names that are taken.
bool CCompress::OpenTemporaryFile() {
  for (int tries = 0; tries < 4096; ++tries) {
    char name[32];
    std::snprintf(name, sizeof name, "CabTmp_%02X_%02X", static_cast<unsigned>(instance_),
                  static_cast<unsigned>(tempCounter_++));
    const std::string path = tempFolder_ + name;
    tempFd_ = FileOpen(path, O_RDWR | O_CREAT | O_EXCL, 0600);
    if (tempFd_ >= 0) {
      tempPath_ = path;
      return true;
    }
    if (lastErrno_ != EEXIST) break;
  }
  return Fail("cannot create a temporary file in " + tempFolder_ + ": " +
              std::strerror(lastErrno_));
}

void CCompress::DropTemporaryFile() {
  if (tempFd_ >= 0) FileClose(tempFd_);
  tempFd_ = -1;
  if (!tempPath_.empty()) FileDelete(tempPath_);
  tempPath_.clear();
  if (zsReady_) deflateEnd(&zs_);
  zsReady_ = false;
}

bool CCompress::StartCabinet(const std::string& cabinetPath) {
  if (!OnOwnerThread()) return false;
  const std::string folder = DirectoryPrefixOf(cabinetPath);
  const std::string name = FileNameOf(cabinetPath);
  if (open_) return Fail("a cabinet is open already");
  if (folder.size() < 3 || name.size() < 3) return Fail("the cabinet path is too short");
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (!fs::is_directory(folder, ec)) return Fail("cannot create the folder " + folder);
  for (unsigned char c : name)
    if (c >= 128) return Fail("the cabinet name must be ASCII");
  if (folder.size() > kMaxPathPartBytes || name.size() > kMaxPathPartBytes)
    return Fail("the cabinet path is too long");

  zs_ = {};
  if (deflateInit2(&zs_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    return Fail("the compressor cannot start");
  zsReady_ = true;
  if (!OpenTemporaryFile()) {
    DropTemporaryFile();
    return false;
  }
  cabinetPath_ = cabinetPath;
  entries_.clear();
  block_.clear();
  block_.reserve(kBlockSize);
  previous_.clear();
  folderSize_ = dataSize_ = entryTableSize_ = 0;
  blockCount_ = 0;
  open_ = flushPending_ = true;
  finished_ = false;
  return true;
}

// Compresses the filled block into one data block of the temporary file. The previous block
// is the history the block is compressed against, as a reader keeps it.
bool CCompress::CompressBlock() {
  if (block_.empty()) return true;
  if (blockCount_ >= kMaxBlocks) return Fail("the folder cannot hold more data");
  if (deflateReset(&zs_) != Z_OK) return Fail("the compressor failed");
  if (!previous_.empty() &&
      deflateSetDictionary(&zs_, previous_.data(), static_cast<uInt>(previous_.size())) != Z_OK)
    return Fail("the compressor failed");
  packed_.resize(kDataHeaderSize + 2 + deflateBound(&zs_, static_cast<uLong>(block_.size())));
  unsigned char* data = packed_.data() + kDataHeaderSize;
  data[0] = 'C';
  data[1] = 'K';
  zs_.next_in = block_.data();
  zs_.avail_in = static_cast<uInt>(block_.size());
  zs_.next_out = data + 2;
  zs_.avail_out = static_cast<uInt>(packed_.size() - kDataHeaderSize - 2);
  if (deflate(&zs_, Z_FINISH) != Z_STREAM_END) return Fail("the compressor failed");
  const std::size_t compressed = 2 + zs_.total_out;
  PutLe16(packed_.data() + 4, static_cast<std::uint16_t>(compressed));
  PutLe16(packed_.data() + 6, static_cast<std::uint16_t>(block_.size()));
  PutLe32(packed_.data(), Checksum(packed_.data() + 4, 4, Checksum(data, compressed, 0)));
  const std::size_t total = kDataHeaderSize + compressed;
  if (kHeaderSize + kFolderEntrySize + entryTableSize_ + dataSize_ + total > kMaxCabinetSize)
    return Fail("the cabinet cannot grow past 2 GiB");
  if (!FileWrite(tempFd_, packed_.data(), total))
    return Fail(std::string("cannot write the temporary file: ") + std::strerror(lastErrno_));
  dataSize_ += total;
  ++blockCount_;
  previous_.swap(block_);
  block_.clear();
  return true;
}

bool CCompress::AddEntry(const std::string& sourcePath, const std::string& storedName) {
  if (!OnOwnerThread()) return false;
  if (!open_) return Fail("no cabinet is open");
  if (finished_) return Fail("the cabinet is finished");
  flushPending_ = true;
  if (entries_.size() >= kMaxEntries) return Fail("the cabinet holds as many files as it can");
  if (storedName.empty() || storedName.size() > kMaxNameBytes || !IsValidUtf8(storedName))
    return Fail("the name '" + storedName + "' cannot be stored");

  const int fd = FileOpen(sourcePath, O_RDONLY, 0);
  if (fd < 0) return Fail("cannot open " + sourcePath + ": " + std::strerror(lastErrno_));
  struct Closer {
    CCompress* self;
    int fd;
    ~Closer() { self->FileClose(fd); }
  } closer{this, fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) return Fail("cannot read the size of " + sourcePath);
  if (!S_ISREG(st.st_mode)) return Fail(sourcePath + " is not a file");
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (size > kMaxEntrySize) return Fail(sourcePath + " is larger than a cabinet entry can be");
  if (folderSize_ + size > std::uint64_t{kMaxBlocks} * kBlockSize)
    return Fail("the folder cannot hold " + sourcePath);
  const std::uint64_t entrySize = kFileEntryFields + storedName.size() + 1;

  Entry entry;
  entry.size = static_cast<std::uint32_t>(size);
  entry.folderOffset = static_cast<std::uint32_t>(folderSize_);
  entry.name = storedName;
  ToDosDateTime(st.st_mtim.tv_sec, entry.info.date, entry.info.time);
  bool nameIsUtf = false;
  for (unsigned char c : storedName) nameIsUtf = nameIsUtf || c >= 128;
  entry.info.attributes =
      static_cast<std::uint16_t>((FileAttributes(fd, FileNameOf(sourcePath)) & kAttributeMask) |
                                 kAttributeTimeIsUtc | (nameIsUtf ? kAttributeNameIsUtf : 0));

  // A failure part way leaves the bytes read so far in the folder, belonging to no entry.
  entryTableSize_ += entrySize;
  std::vector<unsigned char> chunk(
      std::min<std::uint64_t>(kIoChunk, std::max<std::uint64_t>(size, 1)));
  for (std::uint64_t left = size; left > 0;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, chunk.size()));
    if (!FileRead(fd, chunk.data(), n)) {
      entryTableSize_ -= entrySize;
      return Fail("cannot read " + sourcePath + ": " + std::strerror(lastErrno_));
    }
    for (std::size_t at = 0; at < n;) {
      const std::size_t take = std::min(n - at, kBlockSize - block_.size());
      block_.insert(block_.end(), chunk.begin() + static_cast<std::ptrdiff_t>(at),
                    chunk.begin() + static_cast<std::ptrdiff_t>(at + take));
      at += take;
      folderSize_ += take;
      if (block_.size() == kBlockSize && !CompressBlock()) {
        entryTableSize_ -= entrySize;
        return false;
      }
    }
    left -= n;
  }
  entries_.push_back(std::move(entry));
  return true;
}

bool CCompress::WriteCabinet() {
  if (!CompressBlock()) return false;
  const std::uint64_t filesOffset = kHeaderSize + kFolderEntrySize;
  const std::uint64_t dataOffset = filesOffset + entryTableSize_;
  const std::uint64_t cabinetSize = dataOffset + dataSize_;
  if (cabinetSize > kMaxCabinetSize) return Fail("the cabinet cannot grow past 2 GiB");

  std::string head = "MSCF";
  AppendLe32(head, 0);
  AppendLe32(head, static_cast<std::uint32_t>(cabinetSize));
  AppendLe32(head, 0);
  AppendLe32(head, static_cast<std::uint32_t>(filesOffset));
  AppendLe32(head, 0);
  head += "\x03\x01";   // format version 1.3
  AppendLe16(head, 1);  // folders
  AppendLe16(head, static_cast<std::uint16_t>(entries_.size()));
  AppendLe16(head, 0);  // flags: no reserve, no set names
  AppendLe16(head, 0);  // setID
  AppendLe16(head, 0);  // iCabinet
  AppendLe32(head, static_cast<std::uint32_t>(dataOffset));
  AppendLe16(head, static_cast<std::uint16_t>(blockCount_));
  AppendLe16(head, kTypeMszip);
  for (const Entry& e : entries_) {
    AppendLe32(head, e.size);
    AppendLe32(head, e.folderOffset);
    AppendLe16(head, 0);  // iFolder
    AppendLe16(head, e.info.date);
    AppendLe16(head, e.info.time);
    AppendLe16(head, e.info.attributes);
    head += e.name;
    head += '\0';
  }

  // Written beside the cabinet's path under a unique name and renamed into place when whole.
  SiblingFile out;
  if (!out.Create(cabinetPath_, 0644))
    return Fail("cannot create " + out.path() + ": " + std::strerror(errno));
  bool ok =
      FileWrite(out.descriptor(), head.data(), head.size()) && FileSeek(tempFd_, 0, SEEK_SET) == 0;
  std::vector<unsigned char> buffer(kIoChunk);
  for (std::uint64_t left = dataSize_; ok && left > 0;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
    ok = FileRead(tempFd_, buffer.data(), n) && FileWrite(out.descriptor(), buffer.data(), n);
    left -= n;
  }
  if (ok && !out.Commit(false)) {
    lastErrno_ = errno;
    ok = false;
  }
  if (!ok) {
    out.Discard();
    return Fail("cannot write the cabinet " + cabinetPath_ + ": " + std::strerror(lastErrno_));
  }
  return true;
}

bool CCompress::FinishCabinet() {
  if (!OnOwnerThread()) return false;
  if (!open_) return Fail("no cabinet is open");
  flushPending_ = false;
  if (finished_) return true;
  finished_ = true;
  return WriteCabinet();
}

bool CCompress::CloseCabinet() {
  if (!OnOwnerThread()) return false;
  if (!open_) return true;
  const bool finished = !flushPending_ || FinishCabinet();
  DropTemporaryFile();
  open_ = false;
  return finished;
}

}  // namespace corvane::Cabinet
