#include "formats/file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string>
#include <system_error>

namespace corvane::formats {
namespace {

[[noreturn]] void RaiseErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

// The region kept for small reads, and what counts as small.
constexpr std::uint64_t kHeadSize = 4096;
constexpr std::size_t kSmallRead = 64;

[[noreturn]] void RaiseRange(std::uint64_t offset, std::uint64_t length) {
  throw FileRangeError("read of " + std::to_string(length) + " bytes at " + std::to_string(offset) +
                       " is outside the file");
}

}  // namespace

FileReader::FileReader(const std::string& path) : FileReader(path, O_RDONLY) {}

FileReader::FileReader(const std::string& path, int flags) {
  fd_ = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd_ < 0) RaiseErrno("cannot open " + path);
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    int saved = errno;
    ::close(fd_);
    errno = saved;
    RaiseErrno("cannot stat " + path);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd_);
    throw std::system_error(std::make_error_code(std::errc::invalid_argument),
                            path + " is not a regular file");
  }
  size_ = static_cast<std::uint64_t>(st.st_size);
}

FileReader::~FileReader() {
  if (fd_ >= 0) ::close(fd_);
}

bool FileReader::ReadFromHead(std::uint64_t offset, void* out, std::size_t length) const {
  if (length > kSmallRead || offset + length > kHeadSize) return false;
  if (!headLoaded_) {
    head_.resize(static_cast<std::size_t>(std::min(size_, kHeadSize)));
    std::size_t done = 0;
    while (done < head_.size()) {
      const ssize_t n =
          ::pread(fd_, head_.data() + done, head_.size() - done, static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    head_.resize(done);  // a file that shrank: what is past its end is read, and fails, directly
    headLoaded_ = true;
  }
  if (offset + length > head_.size()) return false;
  std::memcpy(out, head_.data() + offset, length);
  return true;
}

void FileReader::ReadAt(std::uint64_t offset, void* out, std::size_t length) const {
  if (!Contains(offset, length)) RaiseRange(offset, length);
  if (ReadFromHead(offset, out, length)) return;
  auto* p = static_cast<unsigned char*>(out);
  std::size_t done = 0;
  while (done < length) {
    ssize_t n = ::pread(fd_, p + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseErrno("read failed");
    }
    if (n == 0) RaiseRange(offset, length);  // the file is shorter than it was
    done += static_cast<std::size_t>(n);
  }
}

std::string FileReader::ReadAt(std::uint64_t offset, std::size_t length) const {
  if (!Contains(offset, length)) RaiseRange(offset, length);
  std::string bytes(length, '\0');
  ReadAt(offset, bytes.data(), length);
  return bytes;
}

std::uint16_t FileReader::U16At(std::uint64_t offset) const {
  unsigned char b[2];
  ReadAt(offset, b, sizeof b);
  return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

std::uint32_t FileReader::U32At(std::uint64_t offset) const {
  unsigned char b[4];
  ReadAt(offset, b, sizeof b);
  return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
         (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

FileEditor::FileEditor(const std::string& path) : FileReader(path, O_RDWR) {}

void FileEditor::WriteAt(std::uint64_t offset, const void* data, std::size_t length) {
  constexpr auto kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
  if (offset > kMaxOffset || length > kMaxOffset - offset) RaiseRange(offset, length);
  ForgetHead();
  const auto* p = static_cast<const unsigned char*>(data);
  std::size_t done = 0;
  while (done < length) {
    ssize_t n = ::pwrite(fd_, p + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseErrno("write failed");
    }
    done += static_cast<std::size_t>(n);
  }
  if (offset + length > size_) size_ = offset + length;
}

void FileEditor::WriteU32At(std::uint64_t offset, std::uint32_t value) {
  const unsigned char b[4] = {
      static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
      static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
  WriteAt(offset, b, sizeof b);
}

void FileEditor::Resize(std::uint64_t length) {
  if (length > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) RaiseRange(length, 0);
  ForgetHead();
  while (::ftruncate(fd_, static_cast<off_t>(length)) != 0) {
    if (errno != EINTR) RaiseErrno("cannot resize the file");
  }
  size_ = length;
}

FileStamp FileReader::Stamp() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return {};
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
          static_cast<std::uint64_t>(st.st_size),
          static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

FileStamp StampOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
          static_cast<std::uint64_t>(st.st_size),
          static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

}  // namespace corvane::formats
