#include "base/status.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace corvane {
namespace {

constexpr const char* kTexts[] = {
    "succeed",
    "failed",
    "undefined",
    "windows internal error",
    "communication failed",
    "invalid param",
    "file not exist",
    "file is in use",
    "file type is not supported",
    "invalid path",
    "user cancel the operation",
    "file is virus",
    "sign file failed",
    "verify file failed",
    "counter sign file failed",
    "counter verify file failed",
    "timestamp failed",
    "sign succeed, timestamp failed",
    "verify cert failed",
    "cert expired",
    "cert not for code sign",
    "cert pswd is wrong",
    "not support add drive",
    "cloud virus check err occur",
    "file content is empty",
    "algorithm is not supported",
    "smart card not support sha2 algorithm",
    "no space left on device",
    "read-only file system",
    "disk quota exceeded",
    "input/output error",
    "not a regular file",
    "file is damaged",
};
static_assert(sizeof(kTexts) / sizeof(kTexts[0]) == static_cast<std::size_t>(kLastStatusCode) + 1);

// Cuts `text` to `limit` bytes without splitting a UTF-8 sequence.
void TruncateUtf8(std::string& text, std::size_t limit) {
  if (text.size() <= limit) return;
  std::size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
}

std::string VFormat(const char* format, va_list args) {
  char buffer[kMaxStatusLength * 4 + 1];
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(buffer, sizeof buffer, format, copy);
  va_end(copy);
  std::string text;
  if (n < 0) {
    text = format;
  } else if (static_cast<std::size_t>(n) < sizeof buffer) {
    text.assign(buffer, static_cast<std::size_t>(n));
  } else {
    text.resize(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<std::size_t>(n));
  }
  TruncateUtf8(text, kMaxStatusLength);
  return text;
}

}  // namespace

const char* StatusCodeText(StatusCode code) { return kTexts[static_cast<std::size_t>(code)]; }

bool StatusCodeFromText(std::string_view text, StatusCode* code) {
  for (std::size_t i = 0; i < sizeof(kTexts) / sizeof(kTexts[0]); ++i) {
    if (text == kTexts[i]) {
      *code = static_cast<StatusCode>(i);
      return true;
    }
  }
  return false;
}

void RaiseStatus(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = VFormat(format, args);
  va_end(args);
  throw ExceptionEx(std::move(text));
}

void RaiseStatus(StatusCode code) { throw ExceptionEx(code); }

std::string FormatStatus(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = VFormat(format, args);
  va_end(args);
  return text;
}

bool IsSucceed(const std::exception& e) { return std::strcmp(e.what(), kTexts[0]) == 0; }

bool IsFailure(const std::exception& e) { return !IsSucceed(e); }

std::string StatusText(const std::exception& e) { return e.what(); }

bool HasStatus(const std::exception& e, StatusCode code) {
  return std::strcmp(e.what(), StatusCodeText(code)) == 0;
}

void RethrowIfFailed(const std::exception& e) {
  if (IsFailure(e)) throw ExceptionEx(e.what());
}

}  // namespace corvane
