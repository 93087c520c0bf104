// The user's file while a signer works on it, and the copy the signer works on.
//
// The file is the regular file a path names, symbolic links followed: the target is signed and
// the link stays a link. It is opened once and locked (flock) from the first read to the last
// write, so two signings of one file, in this process or another, run one after the other and
// the second one sees what the first one wrote.
//
// The working copy lives in the file's own directory when that directory takes new files, else
// in the temporary directory. Where the file system allows it the copy has no name until it is
// published, so nothing stays behind when the process dies; otherwise its name carries the
// process id, and copies left by processes that no longer run are removed when the next copy
// of the same file is made. Publishing renames the copy over the file when that keeps what the
// file is (one name, same file system, owner, group, mode and extended attributes, ACLs
// included, all reproducible); otherwise the complete copy is written back into the file's own
// inode, with the space reserved first, so every hard link sees the signed file.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>

namespace corvane {

// The longest a signing waits for another signing of the same file to end.
inline constexpr std::chrono::seconds kSigningLockWait{300};

class SigningTarget {
 public:
  // Raises "invalid path" when nothing is there, "not a regular file" for a directory, pipe,
  // socket or device (a pipe is never opened), "file is in use" when another signing holds the
  // file longer than kSigningLockWait or the stop request is set while waiting.
  explicit SigningTarget(const std::string& path);
  ~SigningTarget();
  SigningTarget(const SigningTarget&) = delete;
  SigningTarget& operator=(const SigningTarget&) = delete;

  // The file itself, links resolved.
  const std::string& path() const { return path_; }
  int descriptor() const { return fd_; }

 private:
  std::string path_;
  int fd_ = -1;
};

class WorkingCopy {
 public:
  // `named`: the copy must have a name of its own (a format that rewrites files by renaming
  // new ones over them). Raises the status of the failure (no space left, read-only file
  // system, quota, I/O error), else "undefined".
  WorkingCopy(const SigningTarget& target, bool named);
  ~WorkingCopy();
  WorkingCopy(const WorkingCopy&) = delete;
  WorkingCopy& operator=(const WorkingCopy&) = delete;

  // Where the signer reads and writes the copy.
  const std::string& path() const { return path_; }

  // Fills the copy from `source`: with `fill` when it returns true, else byte for byte (a
  // clone of the source's blocks where the file system has them).
  void Fill(const std::string& source, const std::function<bool(const std::string&)>& fill);

  // Puts the copy's content in place of the target's (see above). On failure the target is
  // unchanged, except for an I/O error while writing back into a hard-linked file.
  void Publish(const SigningTarget& target);

 private:
  void Create(const std::string& directory, bool named);
  bool CreateUnnamed(const std::string& directory);
  bool CreateNamed(const std::string& directory);
  void WriteBack(const SigningTarget& target, int copy, off_t size);

  std::string fileName_;
  std::string directory_;
  std::string path_;
  int fd_ = -1;
  bool unnamed_ = false;
  bool published_ = false;
};

// The start of every named working copy of `fileName`: "." + the name (cut so that the whole
// copy name stays within the 255-byte limit) + ".signing-"; the process id and a unique
// suffix follow.
std::string WorkingCopyPrefix(const std::string& fileName);

// Removes from `directory` the named working copies of `fileName` whose process has ended.
void RemoveStaleWorkingCopies(const std::string& directory, const std::string& fileName);

// Removes from `directory` the regular files named `prefix` + process id + "-" + anything
// whose process has ended: what a process killed while it had them leaves behind.
void RemoveFilesOfEndedProcesses(const std::string& directory, const std::string& prefix);

}  // namespace corvane
