#include "sign/working_copy.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "base/file_errors.h"
#include "base/file_publish.h"
#include "base/paths.h"
#include "base/status.h"
#include "base/worker_registry.h"

namespace corvane {
namespace {

constexpr char kSigningMarker[] = ".signing-";
// What the longest copy name adds to the file name: ".", the marker, a process id, "-XXXXXX",
// and the ".corvane-XXXXXX" a format's editor may put behind it for a file of its own.
constexpr std::size_t kNameOverhead = 1 + sizeof kSigningMarker - 1 + 10 + 7 + 15;

// Errors after which another directory may still take the copy.
bool DirectoryRefuses(int error) {
  return error == EACCES || error == EPERM || error == EROFS || error == ENAMETOOLONG;
}

bool ProcessEnded(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::vector<std::string> AttributeNames(int fd) {
  std::vector<std::string> names;
  ssize_t size = ::flistxattr(fd, nullptr, 0);
  if (size <= 0) return names;
  std::string list(static_cast<std::size_t>(size), '\0');
  size = ::flistxattr(fd, list.data(), list.size());
  if (size <= 0) return names;
  list.resize(static_cast<std::size_t>(size));
  for (std::size_t at = 0; at < list.size();) {
    std::size_t end = list.find('\0', at);
    if (end == std::string::npos) end = list.size();
    if (end > at) names.push_back(list.substr(at, end - at));
    at = end + 1;
  }
  return names;
}

// Gives `to` the owner, group, mode and extended attributes (ACLs are some of them) of `from`;
// false when one of them cannot be reproduced.
bool CopyAttributes(int from, int to) {
  struct stat source {};
  struct stat copy {};
  if (::fstat(from, &source) != 0 || ::fstat(to, &copy) != 0) return false;
  if ((source.st_uid != copy.st_uid || source.st_gid != copy.st_gid) &&
      ::fchown(to, source.st_uid, source.st_gid) != 0)
    return false;
  // After the owner: changing it clears the set-id bits.
  if (::fchmod(to, source.st_mode & 07777) != 0) return false;
  const std::vector<std::string> wanted = AttributeNames(from);
  for (const std::string& name : AttributeNames(to)) {
    bool keep = false;
    for (const std::string& w : wanted) keep = keep || w == name;
    if (!keep && ::fremovexattr(to, name.c_str()) != 0) return false;
  }
  for (const std::string& name : wanted) {
    ssize_t size = ::fgetxattr(from, name.c_str(), nullptr, 0);
    if (size < 0) return false;
    std::string value(static_cast<std::size_t>(size), '\0');
    size = ::fgetxattr(from, name.c_str(), value.data(), value.size());
    if (size < 0) return false;
    value.resize(static_cast<std::size_t>(size));
    if (::fsetxattr(to, name.c_str(), value.data(), value.size(), 0) != 0) return false;
  }
  return true;
}

// Copies `size` bytes of `in` from offset 0 to `out` at offset 0; false with errno set.
bool CopyRange(int in, int out, off_t size) {
  off_t inAt = 0;
  off_t outAt = 0;
  bool kernel = true;
  while (kernel && inAt < size) {
    ssize_t n = ::copy_file_range(in, &inAt, out, &outAt, static_cast<size_t>(size - inAt), 0);
    if (n > 0) continue;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    if (errno == EINTR) continue;
    if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) return false;
    kernel = false;
  }
  std::vector<char> buffer(1 << 20);
  while (inAt < size) {
    ssize_t n = ::pread(in, buffer.data(), std::min<off_t>(size - inAt, buffer.size()), inAt);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::pwrite(out, buffer.data() + done, static_cast<size_t>(n - done), outAt);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        if (w == 0) errno = EIO;
        return false;
      }
      done += w;
      outAt += w;
    }
    inAt += n;
  }
  return true;
}

// Makes `out` (empty) a copy of `in`: a clone sharing the file's blocks where the file system
// can (Btrfs, XFS...), which costs nothing however large the file and copies only the blocks
// the signer then changes; else copy_file_range, else a plain copy (CopyContents).
bool CloneOrCopy(int in, int out) {
  if (::ioctl(out, FICLONE, in) == 0) return true;
  // Whatever a refused clone may have left, the copy starts from an empty file.
  if (::ftruncate(out, 0) != 0 || ::lseek(in, 0, SEEK_SET) != 0 || ::lseek(out, 0, SEEK_SET) != 0)
    return false;
  return CopyContents(in, out);
}

}  // namespace

std::string WorkingCopyPrefix(const std::string& fileName) {
  std::string name = fileName;
  const std::size_t limit = NAME_MAX - kNameOverhead;
  if (name.size() > limit) {
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
  return "." + name + kSigningMarker;
}

void RemoveStaleWorkingCopies(const std::string& directory, const std::string& fileName) {
  RemoveFilesOfEndedProcesses(directory, WorkingCopyPrefix(fileName));
}

void RemoveFilesOfEndedProcesses(const std::string& directory, const std::string& prefix) {
  DIR* dir = ::opendir(directory.c_str());
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir)) {
    std::string_view name = entry->d_name;
    // A format's editor writes "." + the file's name + its own suffix beside the file.
    if (name.size() > 1 && name[0] == '.' && name.substr(1, prefix.size()) == prefix)
      name.remove_prefix(1);
    if (name.substr(0, prefix.size()) != prefix) continue;
    std::string_view rest = name.substr(prefix.size());
    std::size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash > 9) continue;
    long long pid = 0;
    bool digits = true;
    for (char c : rest.substr(0, dash)) {
      digits = digits && c >= '0' && c <= '9';
      pid = pid * 10 + (c - '0');
    }
    if (!digits || pid <= 0 || pid == ::getpid() || !ProcessEnded(static_cast<pid_t>(pid)))
      continue;
    struct stat st {};
    if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(st.st_mode))
      ::unlinkat(::dirfd(dir), entry->d_name, 0);
  }
  ::closedir(dir);
}

SigningTarget::SigningTarget(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) RaiseStatus(StatusCode::InvalidPath);
  if (!S_ISREG(st.st_mode)) RaiseStatus(StatusCode::NotRegularFile);
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) RaiseStatus(StatusCode::InvalidPath);
  path_ = resolved;
  std::free(resolved);

  const auto deadline = std::chrono::steady_clock::now() + kSigningLockWait;
  for (;;) {
    // Non-blocking, so that a pipe put there since the check is not waited for either.
    fd_ = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0) RaiseStatus(errno == ENOENT ? StatusCode::InvalidPath : StatusCode::FileIsInUse);
    struct stat held {};
    if (::fstat(fd_, &held) != 0 || !S_ISREG(held.st_mode)) {
      ::close(fd_);
      fd_ = -1;
      RaiseStatus(StatusCode::NotRegularFile);
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
      // The signing that held the lock may have put a new file in place of the one locked.
      struct stat now {};
      if (::stat(path_.c_str(), &now) == 0 && SameFile(now, held)) return;
    } else if (errno != EWOULDBLOCK && errno != EINTR) {
      break;
    }
    ::close(fd_);
    fd_ = -1;
    if (std::chrono::steady_clock::now() >= deadline || Workers().stopRequested()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  RaiseStatus(StatusCode::FileIsInUse);
}

SigningTarget::~SigningTarget() {
  if (fd_ >= 0) ::close(fd_);
}

WorkingCopy::WorkingCopy(const SigningTarget& target, bool named)
    : fileName_(FileNameOf(target.path())) {
  int error = 0;
  for (const std::string& directory : {DirectoryOf(target.path()), TemporaryDirectory()}) {
    if ((!named && CreateUnnamed(directory)) || CreateNamed(directory)) {
      directory_ = directory;
      return;
    }
    error = errno;
    if (!DirectoryRefuses(error)) break;
  }
  RaiseFileError(error);
}

bool WorkingCopy::CreateUnnamed(const std::string& directory) {
  int fd = ::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::string path = "/proc/self/fd/" + std::to_string(fd);
  if (::access(path.c_str(), R_OK | W_OK) != 0) {
    ::close(fd);
    errno = EOPNOTSUPP;
    return false;
  }
  fd_ = fd;
  path_ = path;
  unnamed_ = true;
  return true;
}

bool WorkingCopy::CreateNamed(const std::string& directory) {
  RemoveStaleWorkingCopies(directory, fileName_);
  std::string pattern =
      directory + "/" + WorkingCopyPrefix(fileName_) + std::to_string(::getpid()) + "-XXXXXX";
  int fd = ::mkstemp(pattern.data());
  if (fd < 0) return false;
  fd_ = fd;
  path_ = pattern;
  unnamed_ = false;
  return true;
}

WorkingCopy::~WorkingCopy() {
  if (fd_ >= 0) ::close(fd_);
  if (!unnamed_ && !published_ && !path_.empty()) ::unlink(path_.c_str());
}

void WorkingCopy::Fill(const std::string& source,
                       const std::function<bool(const std::string&)>& fill) {
  int in = ::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (in < 0) RaiseStatus(StatusCode::Undefined);
  int error = 0;
  bool ok = false;
  try {
    const bool filled = fill(path_);
    ok = filled || CloneOrCopy(in, fd_);
    if (!ok) error = errno;
    // The copy is made safe on disk before it is published; writing it out starts now, while
    // the signature is made, so that little is left to wait for then.
    if (ok && !filled) ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
  } catch (const std::system_error& e) {
    error = e.code().category() == std::generic_category() ? e.code().value() : 0;
  } catch (const std::exception&) {
  }
  struct stat st {};
  if (ok && ::fstat(in, &st) == 0) {
    // Written through the path, the copy may be a new file by now: set the mode by path.
    ok = ::chmod(path_.c_str(), (st.st_mode | S_IWUSR) & 07777) == 0;
    if (!ok) error = errno;
  }
  ::close(in);
  if (!ok) RaiseFileError(error);
  if (!unnamed_) {
    // A named copy is reopened by name when it is published.
    ::close(fd_);
    fd_ = -1;
  }
}

void WorkingCopy::Publish(const SigningTarget& target) {
  int copy = unnamed_ ? fd_ : ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
  if (copy < 0) RaiseStatus(StatusCode::Undefined);
  struct Closer {
    int fd;
    bool own;
    ~Closer() {
      if (own) ::close(fd);
    }
  } closer{copy, !unnamed_};

  struct stat file {};
  struct stat work {};
  if (::fstat(target.descriptor(), &file) != 0 || ::fstat(copy, &work) != 0)
    RaiseStatus(StatusCode::Undefined);
  const bool renamable = directory_ == DirectoryOf(target.path()) && work.st_dev == file.st_dev &&
                         file.st_nlink == 1 && CopyAttributes(target.descriptor(), copy);
  if (!renamable) {
    WriteBack(target, copy, work.st_size);
    return;
  }
  if (::fsync(copy) != 0) RaiseFileError(errno);
  std::string from = path_;
  if (unnamed_) {
    // Give the copy a name beside the file, then move it over the file in one step.
    const std::string stem =
        directory_ + "/" + WorkingCopyPrefix(fileName_) + std::to_string(::getpid()) + "-";
    for (unsigned attempt = 0;; ++attempt) {
      from = stem + std::to_string(attempt);
      if (::linkat(AT_FDCWD, path_.c_str(), AT_FDCWD, from.c_str(), AT_SYMLINK_FOLLOW) == 0) break;
      if (errno != EEXIST || attempt > 1000) RaiseFileError(errno, StatusCode::FileIsInUse);
    }
  }
  if (::rename(from.c_str(), target.path().c_str()) != 0) {
    const int error = errno;
    if (unnamed_) ::unlink(from.c_str());
    RaiseFileError(error, StatusCode::FileIsInUse);
  }
  published_ = true;
}

void WorkingCopy::WriteBack(const SigningTarget& target, int copy, off_t size) {
  int out = ::open(target.path().c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  if (out < 0) RaiseFileError(errno, StatusCode::FileIsInUse);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{out};
  struct stat held {};
  struct stat opened {};
  if (::fstat(target.descriptor(), &held) != 0 || ::fstat(out, &opened) != 0 ||
      !SameFile(held, opened))
    RaiseStatus(StatusCode::FileIsInUse);
  // Reserve the space first: a disk that fills up then stops the write before it begins.
  if (::fallocate(out, FALLOC_FL_KEEP_SIZE, 0, size) != 0 && errno != EOPNOTSUPP && errno != ENOSYS)
    RaiseFileError(errno);
  if (!CopyRange(copy, out, size) || ::ftruncate(out, size) != 0 || ::fsync(out) != 0)
    RaiseFileError(errno);
  published_ = true;
}

}  // namespace corvane
