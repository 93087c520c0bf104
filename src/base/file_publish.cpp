#include "base/file_publish.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <functional>

#include "base/sibling_file.h"

namespace corvane {
namespace {

// Fills a hidden file beside `path` with `fill`, gives it `mode` and renames it over `path`.
bool Publish(const std::string& path, mode_t mode, const std::function<bool(int)>& fill) {
  if (path.empty()) return false;
  SiblingFile file;
  if (!file.Create(path, mode)) return false;
  if (!fill(file.descriptor())) return false;
  return file.Commit(true);
}

}  // namespace

// Read from /proc rather than with the set-and-restore dance of umask(2), which would race
// other threads creating files.
mode_t NewFileMode() {
  unsigned long mask = 022;
  if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    while (std::fgets(line, sizeof line, status)) {
      if (std::sscanf(line, "Umask: %lo", &mask) == 1) break;
    }
    std::fclose(status);
  }
  return static_cast<mode_t>(0666 & ~mask);
}

std::string HiddenSiblingName(const std::string& name, std::string_view suffix) {
  std::string kept = name;
  const std::size_t limit = NAME_MAX > suffix.size() + 1 ? NAME_MAX - suffix.size() - 1 : 0;
  if (kept.size() > limit) {
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(kept[cut]) & 0xC0) == 0x80) --cut;
    kept.resize(cut);
  }
  return "." + kept + std::string(suffix);
}

bool PublishFile(const std::string& path, std::string_view bytes, mode_t mode) {
  return Publish(path, mode, [bytes](int fd) { return WriteAll(fd, bytes); });
}

bool PublishCopy(const std::string& source, const std::string& path, mode_t mode) {
  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  const bool ok = Publish(path, mode, [in](int fd) { return CopyContents(in, fd); });
  ::close(in);
  return ok;
}

bool WriteAll(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool CopyContents(int in, int out) {
  for (;;) {
    ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
    if (n == 0) return true;
    if (n > 0) continue;
    if (errno == EINTR) continue;
    if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) return false;
    break;
  }
  if (::lseek(in, 0, SEEK_SET) < 0 || ::lseek(out, 0, SEEK_SET) < 0 || ::ftruncate(out, 0) != 0)
    return false;
  std::string buffer(1 << 20, '\0');
  for (;;) {
    ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n == 0;
    if (!WriteAll(out, std::string_view(buffer.data(), static_cast<std::size_t>(n)))) return false;
  }
}

}  // namespace corvane
