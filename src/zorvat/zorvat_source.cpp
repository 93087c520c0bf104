#include "zorvat/zorvat_source.h"

#include <cstdio>
#include <memory>

namespace corvane::zorvat {

std::optional<std::string> ReadFileBytes(const std::string& path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) return std::nullopt;
  std::string bytes;
  char buffer[16384];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) bytes.append(buffer, n);
  if (std::ferror(file.get())) return std::nullopt;
  return bytes;
}

std::optional<std::string> ReadSource(const Source& source, const char* fileError,
                                      std::string& errorText) {
  if (source.kind == Source::Kind::File) {
    std::optional<std::string> bytes =
        source.data.empty() ? std::nullopt : ReadFileBytes(std::string(source.data));
    if (!bytes) errorText = fileError;
    return bytes;
  }
  if (source.data.empty()) {
    errorText = "Make Mem Bio Error";
    return std::nullopt;
  }
  return std::string(source.data);
}

}  // namespace corvane::zorvat
