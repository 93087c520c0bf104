// A file written beside its target under a unique hidden name and renamed over the target only
// when complete, so the target is always either what it was or the whole new file.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace corvane {

class SiblingFile {
 public:
  SiblingFile() = default;
  ~SiblingFile() { Discard(); }
  SiblingFile(const SiblingFile&) = delete;
  SiblingFile& operator=(const SiblingFile&) = delete;

  // Creates "." + the target's name + `suffix` (whose last six characters are "XXXXXX", made
  // unique) in the target's directory, with `mode`. False, with errno set, when it cannot be
  // created; path() then names what was tried.
  bool Create(const std::string& target, mode_t mode, std::string_view suffix = ".part-XXXXXX");

  int descriptor() const { return fd_; }
  const std::string& path() const { return path_; }

  // Flushes the file to the disk when `sync`, closes it and renames it over the target. False,
  // with errno set and the file removed, when any step fails.
  bool Commit(bool sync);

  // Closes and removes an uncommitted file; nothing when there is none.
  void Discard();

 private:
  std::string target_;
  std::string path_;
  int fd_ = -1;
};

}  // namespace corvane
