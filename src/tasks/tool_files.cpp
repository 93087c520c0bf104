#include "tasks/tool_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <vector>

#include "base/file_publish.h"

namespace corvane {
namespace {

std::string BareName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "Read-only" is the owner's missing write bit.
void ClearReadOnly(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !(st.st_mode & S_IWUSR))
    ::chmod(path.c_str(), (st.st_mode | S_IWUSR) & 07777);
}

}  // namespace

std::string GetTempFilePath(const std::string& name, const std::string& suffix) {
  std::error_code ec;
  std::string dir = std::filesystem::temp_directory_path(ec).string();
  if (ec || dir.empty()) dir = "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir + BareName(name) + suffix;
}

bool CopyFileForce(const std::string& source, const std::string& target) {
  ClearReadOnly(source);
  ClearReadOnly(target);
  // A new product gets the permissions a newly created file gets; a replaced one keeps its own.
  struct stat st {};
  const mode_t mode =
      ::stat(target.c_str(), &st) == 0 ? (st.st_mode | S_IWUSR) & 07777 : NewFileMode();
  return PublishCopy(source, target, mode);
}

}  // namespace corvane
