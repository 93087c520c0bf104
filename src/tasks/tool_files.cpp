#include "tasks/tool_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "base/file_publish.h"
#include "base/paths.h"

namespace corvane {
namespace {

// "Read-only" is the owner's missing write bit.
void ClearReadOnly(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !(st.st_mode & S_IWUSR))
    ::chmod(path.c_str(), (st.st_mode | S_IWUSR) & 07777);
}

}  // namespace

std::string GetTempFilePath(const std::string& name, const std::string& suffix) {
  std::string dir = TemporaryDirectory();
  if (dir.back() != '/') dir += '/';
  return dir + FileNameOf(name) + suffix;
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
