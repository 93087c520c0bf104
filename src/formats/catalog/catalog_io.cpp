#include "formats/catalog/catalog_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "base/file_publish.h"
#include "formats/catalog/catalog_file.h"

namespace corvane::catalog {
namespace {

[[noreturn]] void RaiseErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

class Descriptor {
 public:
  Descriptor(const std::string& path, int flags) : fd_(::open(path.c_str(), flags | O_CLOEXEC)) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

}  // namespace

bool LooksLikeCatalogFile(const std::string& path) {
  Descriptor fd(path, O_RDONLY);
  if (fd.get() < 0) return false;
  char head[32];
  ssize_t n = ::pread(fd.get(), head, sizeof head, 0);
  return n > 0 && LooksLikeSignedData(std::string_view(head, static_cast<std::size_t>(n)));
}

std::string ReadCatalogFile(const std::string& path) {
  Descriptor fd(path, O_RDONLY);
  if (fd.get() < 0) RaiseErrno("open " + path);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) RaiseErrno("stat " + path);
  if (static_cast<std::uint64_t>(st.st_size) > kMaxCatalogSize)
    throw CatalogFormatError("the catalog is too large");
  std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n =
        ::pread(fd.get(), bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) RaiseErrno("read " + path);
    if (n == 0) break;  // it shrank under us: what is there is parsed, and refused if cut
    done += static_cast<std::size_t>(n);
  }
  bytes.resize(done);
  return bytes;
}

void WriteCatalogFile(const std::string& path, const std::string& bytes) {
  Descriptor fd(path, O_WRONLY | O_TRUNC);
  if (fd.get() < 0) RaiseErrno("open " + path);
  if (!WriteAll(fd.get(), bytes)) RaiseErrno("write " + path);
  if (::close(fd.Release()) != 0) RaiseErrno("close " + path);
}

}  // namespace corvane::catalog
