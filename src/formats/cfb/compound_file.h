// Compound files (structured storage, the container of installer packages): version 3
// (512-byte sectors) and version 4 (4096-byte sectors), with their FAT, DIFAT, MiniFAT and
// directory tree. Reading checks every sector number, chain and tree link against the file:
// a malformed file raises CfbFormatError, never reads out of bounds or loops. Stream contents
// are delivered in bounded chunks, and the FAT is read sector by sector on demand, so memory
// use does not grow with the file.
//
// Editing changes the file in place and touches only what the edit needs: the stream's own
// sectors (freed ones are zeroed and reused, new ones appended), the FAT/MiniFAT entries of
// those sectors, the directory entries of the stream and of its siblings' tree, and the
// header counters. Every other stream, storage, class id, state bit and time stays as it was.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::formats {
class FileEditor;
class FileReader;
}  // namespace corvane::formats

namespace corvane::cfb {

// Why a compound file was refused, for the log; callers map it to their own status.
class CfbFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr std::uint32_t kNoStream = 0xFFFFFFFFu;
inline constexpr std::uint32_t kRootEntry = 0;

enum class EntryType : std::uint8_t { Unused = 0, Storage = 1, Stream = 2, Root = 5 };

struct DirectoryEntry {
  std::u16string name;
  EntryType type = EntryType::Unused;
  std::uint8_t color = 1;  // 0 red, 1 black
  std::uint32_t left = kNoStream;
  std::uint32_t right = kNoStream;
  std::uint32_t child = kNoStream;
  std::array<unsigned char, 16> clsid{};
  std::uint32_t stateBits = 0;
  std::uint64_t created = 0;
  std::uint64_t modified = 0;
  std::uint32_t start = 0;
  std::uint64_t size = 0;
};

// True when the file starts with the compound-file signature.
bool LooksLikeCompoundFile(const std::string& path);

// The order of the directory tree: the shorter name first, then code unit by code unit after
// upper-casing. Negative, zero or positive like strcmp.
int CompareNames(std::u16string_view a, std::u16string_view b);

class CompoundFile {
 public:
  // Opens and validates `path`; `writable` allows the edits below.
  explicit CompoundFile(const std::string& path, bool writable = false);
  ~CompoundFile();
  CompoundFile(const CompoundFile&) = delete;
  CompoundFile& operator=(const CompoundFile&) = delete;

  std::uint16_t majorVersion() const;
  std::uint32_t sectorSize() const;
  const std::vector<DirectoryEntry>& entries() const;
  const DirectoryEntry& entry(std::uint32_t id) const { return entries().at(id); }

  // The children of a storage (or the root) in tree order.
  const std::vector<std::uint32_t>& Children(std::uint32_t storage) const;
  // The child of `storage` named `name` (exact match); kNoStream when there is none.
  std::uint32_t Find(std::uint32_t storage, std::u16string_view name) const;

  // Hands the stream's content to `sink` front to back in chunks of at most 1 MiB.
  using Sink = std::function<void(const unsigned char* data, std::size_t length)>;
  void ReadStream(std::uint32_t stream, const Sink& sink) const;
  // The whole content; CfbFormatError when the stream is longer than `maxSize`.
  std::string ReadStreamBytes(std::uint32_t stream, std::size_t maxSize) const;

  // Creates or replaces the stream `name` of the root storage with `data`.
  void WriteRootStream(std::u16string_view name, std::string_view data);
  // Replaces the content of the existing root stream `name`; CfbFormatError when missing.
  void ReplaceRootStream(std::u16string_view name, std::string_view data);
  // Removes the root stream `name`; false when there was none.
  bool RemoveRootStream(std::u16string_view name);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace corvane::cfb
