#include "net/md5_digest.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace corvane {
namespace {

struct MdCtxFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

struct FdClose {
  int fd;
  ~FdClose() {
    if (fd >= 0) ::close(fd);
  }
};

std::string Hex(const unsigned char* digest, unsigned int length) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(length * 2);
  for (unsigned int i = 0; i < length; ++i) {
    text += kDigits[digest[i] >> 4];
    text += kDigits[digest[i] & 0x0f];
  }
  return text;
}

MdCtxPtr NewMd5() {
  MdCtxPtr ctx(EVP_MD_CTX_new());
  if (ctx && EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1) ctx.reset();
  return ctx;
}

std::string Finish(EVP_MD_CTX* ctx) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx, digest, &length) != 1) return {};
  return Hex(digest, length);
}

}  // namespace

std::string Md5Hex(std::string_view bytes) {
  MdCtxPtr ctx = NewMd5();
  if (!ctx || EVP_DigestUpdate(ctx.get(), bytes.data(), bytes.size()) != 1) return {};
  return Finish(ctx.get());
}

std::string FileMd5Hex(const std::string& path) {
  // Non-blocking and regular files only: a pipe named like a program is never waited on.
  FdClose file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
  if (file.fd < 0) return {};
  struct stat st {};
  if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) return {};
  MdCtxPtr ctx = NewMd5();
  if (!ctx) return {};
  char buffer[1024];
  for (;;) {
    const ssize_t n = ::read(file.fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return {};
    if (n == 0) break;
    if (EVP_DigestUpdate(ctx.get(), buffer, static_cast<size_t>(n)) != 1) return {};
  }
  return Finish(ctx.get());
}

}  // namespace corvane
