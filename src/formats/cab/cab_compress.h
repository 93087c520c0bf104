// The cabinet writer: one MSZIP cabinet with one folder and no reserved areas, one entry per
// added file. Entries keep the file's bare name (UTF-8, flagged 0x80 when it is not ASCII),
// its read-only, hidden, system and archive attributes plus 0x100 (the time is UTC) and its
// last-write time in UTC. Compressed data goes to a temporary file ("CabTmp_II_CC" in the
// temporary folder) while entries are added; finishing writes the cabinet beside its path
// and renames it into place. Memory use does not grow with the files.
//
// On Linux a file's attributes are read as the platform's file layer reports them: read-only
// when the owner may not write, hidden when the name starts with ".", never system, always
// archive (set on every file that was written since it was last backed up).
#pragma once

#include <sys/types.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace corvane::Cabinet {

inline constexpr std::uint64_t kMaxEntrySize = 0x7FFF0000;  // larger files are refused
inline constexpr std::uint64_t kMaxCabinetSize = 0x7FFFFFFF;
inline constexpr std::uint16_t kAttributeMask = 0x27;  // read-only, hidden, system, archive
inline constexpr std::uint16_t kAttributeTimeIsUtc = 0x100;
inline constexpr std::uint16_t kAttributeNameIsUtf = 0x80;

// What the entry for a file carries besides its data.
struct EntryInfo {
  std::uint16_t date = 0;  // MS-DOS date and time of the last write, in UTC
  std::uint16_t time = 0;
  std::uint16_t attributes = 0;
};

// The platform attributes of the file `fd` named `name` (see above), without the entry bits.
std::uint16_t FileAttributes(int fd, const std::string& name);
// MS-DOS date and time of `utc`, clamped to the years 1980..2107 the form can hold.
void ToDosDateTime(std::int64_t utc, std::uint16_t& date, std::uint16_t& time);

class CCompress {
 public:
  // `tempFolder` empty: the platform's temporary folder. The folder is created if missing.
  explicit CCompress(const std::string& tempFolder = {});
  virtual ~CCompress();
  CCompress(const CCompress&) = delete;
  CCompress& operator=(const CCompress&) = delete;

  // Opens a cabinet to be written at `cabinetPath`; its folder is created if missing.
  bool StartCabinet(const std::string& cabinetPath);
  // Adds the file at `sourcePath` as `storedName`. False for a file that cannot be opened or
  // read, one larger than kMaxEntrySize, or one the cabinet cannot take (the folder or the
  // cabinet would outgrow its format); the cabinet then holds the entries added before.
  bool AddEntry(const std::string& sourcePath, const std::string& storedName);
  // Writes the cabinet with the entries added so far.
  bool FinishCabinet();
  // Finishes the cabinet if that is pending and releases the open cabinet.
  bool CloseCabinet();

  // Why the last operation failed, for the log.
  const std::string& lastError() const { return lastError_; }
  int instanceNumber() const { return instance_; }

 protected:
  // Every file access of the writer passes through these; each returns the failure as the C
  // runtime does (-1 or false) with errno kept in lastErrno_.
  virtual int FileOpen(const std::string& name, int flags, mode_t mode);
  virtual bool FileRead(int fd, void* buffer, std::size_t count);
  virtual bool FileWrite(int fd, const void* buffer, std::size_t count);
  virtual bool FileClose(int fd);
  virtual bool FileDelete(const std::string& name);
  virtual off_t FileSeek(int fd, off_t offset, int origin);

  int lastErrno_ = 0;

 private:
  struct Entry {
    std::uint32_t size;
    std::uint32_t folderOffset;
    EntryInfo info;
    std::string name;
  };

  bool Fail(const std::string& why);
  bool OnOwnerThread();
  bool OpenTemporaryFile();
  bool CompressBlock();
  bool WriteCabinet();
  void DropTemporaryFile();

  std::thread::id owner_;
  int instance_ = 0;
  int tempCounter_ = 0;
  std::string tempFolder_;
  std::string cabinetPath_;
  bool open_ = false;
  bool flushPending_ = false;
  bool finished_ = false;
  std::string tempPath_;
  int tempFd_ = -1;
  z_stream zs_{};
  bool zsReady_ = false;
  std::vector<Entry> entries_;
  std::vector<unsigned char> block_;     // the uncompressed bytes of the block being filled
  std::vector<unsigned char> previous_;  // the last block, the history of the next one
  std::vector<unsigned char> packed_;
  std::uint64_t folderSize_ = 0;  // uncompressed bytes in the folder
  std::uint64_t dataSize_ = 0;    // bytes of data blocks written
  std::uint32_t blockCount_ = 0;
  std::uint64_t entryTableSize_ = 0;
  std::string lastError_;
};

}  // namespace corvane::Cabinet
