// Positioned, bounds-checked access to a file through a POSIX descriptor. Every read names its
// offset and length and either gets all of those bytes or raises: a range outside the file and
// a short read (the file shrank under us) raise FileRangeError before anything is allocated,
// so a length taken from untrusted file fields never turns into an oversized buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace corvane::formats {

// A read reached outside the file.
class FileRangeError : public std::out_of_range {
 public:
  using std::out_of_range::out_of_range;
};

// What tells one state of a file from another: which file, its length, when it was written.
struct FileStamp {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::int64_t modifiedNs = 0;
  bool operator==(const FileStamp&) const = default;
};

// Small reads in the first few KiB (the headers every format parses field by field) are served
// from one read of that region, kept until the file is written through this object: there they
// give what the file held at that read, and only reads elsewhere notice a file that shrank
// since. Not for use by several threads at once.
class FileReader {
 public:
  // Opens `path` for reading; std::system_error when it cannot be opened.
  explicit FileReader(const std::string& path);
  virtual ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  // The length of the file when it was opened or last resized through this object.
  std::uint64_t size() const { return size_; }

  // True when [offset, offset + length) lies inside the file.
  bool Contains(std::uint64_t offset, std::uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }

  // Reads exactly `length` bytes at `offset` into `out`.
  void ReadAt(std::uint64_t offset, void* out, std::size_t length) const;
  std::string ReadAt(std::uint64_t offset, std::size_t length) const;
  std::uint16_t U16At(std::uint64_t offset) const;  // little-endian
  std::uint32_t U32At(std::uint64_t offset) const;  // little-endian

  // The file's stamp as it is now.
  FileStamp Stamp() const;

  // The open descriptor, for kernel-side copies out of the file.
  int descriptor() const { return fd_; }

 protected:
  FileReader(const std::string& path, int flags);
  // Forgets the kept head of the file; called before every write and resize.
  void ForgetHead() const { headLoaded_ = false; }

  int fd_ = -1;
  std::uint64_t size_ = 0;

 private:
  bool ReadFromHead(std::uint64_t offset, void* out, std::size_t length) const;

  mutable std::string head_;
  mutable bool headLoaded_ = false;
};

// A FileReader that may also write and change the length of the file in place.
class FileEditor : public FileReader {
 public:
  explicit FileEditor(const std::string& path);

  // Writes all of `data` at `offset`; the file grows when the write ends past its end.
  void WriteAt(std::uint64_t offset, const void* data, std::size_t length);
  void WriteAt(std::uint64_t offset, const std::string& data) {
    WriteAt(offset, data.data(), data.size());
  }
  void WriteU32At(std::uint64_t offset, std::uint32_t value);  // little-endian

  // Cuts the file to `length` bytes or extends it with zero bytes.
  void Resize(std::uint64_t length);
};

// The stamp of a file (which file, its length, when it was written); empty when it cannot be
// read.
FileStamp StampOf(const std::string& path);

}  // namespace corvane::formats
