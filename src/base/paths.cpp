#include "base/paths.h"

#include <filesystem>

namespace corvane {

std::string FileNameOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string DirectoryOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return ".";
  return slash == 0 ? std::string("/") : std::string(path.substr(0, slash));
}

std::string DirectoryPrefixOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

std::string TemporaryDirectory() {
  std::error_code ec;
  std::string directory = std::filesystem::temp_directory_path(ec).string();
  if (ec || directory.empty()) return "/tmp";
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  return directory;
}

}  // namespace corvane
