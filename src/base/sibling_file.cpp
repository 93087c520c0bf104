#include "base/sibling_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "base/file_publish.h"
#include "base/paths.h"

namespace corvane {

bool SiblingFile::Create(const std::string& target, mode_t mode, std::string_view suffix) {
  Discard();
  const std::string name = FileNameOf(target);
  if (name.empty()) {
    errno = EINVAL;
    return false;
  }
  const std::string directory = DirectoryPrefixOf(target);
  path_ = (directory.empty() ? "./" : directory) + HiddenSiblingName(name, suffix);
  // mkstemp creates the file 0600, so a key is never readable by others, not even briefly.
  const int fd = ::mkstemp(path_.data());
  if (fd < 0) return false;
  fd_ = fd;
  target_ = target;
  if (::fchmod(fd_, mode) != 0) {
    const int saved = errno;
    Discard();
    errno = saved;
    return false;
  }
  return true;
}

bool SiblingFile::Commit(bool sync) {
  if (fd_ < 0) {
    errno = EBADF;
    return false;
  }
  const int fd = fd_;
  fd_ = -1;
  bool ok = !sync || ::fsync(fd) == 0;
  int saved = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok && std::rename(path_.c_str(), target_.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  if (!ok) ::unlink(path_.c_str());
  target_.clear();
  errno = saved;
  return ok;
}

void SiblingFile::Discard() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  ::unlink(path_.c_str());
  target_.clear();
}

}  // namespace corvane
