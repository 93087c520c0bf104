#include "tasks/tool_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <vector>

#include "formats/file_reader.h"

namespace corvane {
namespace {

std::string BareName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
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
  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  std::string temp = DirectoryOf(target) + "/." + BareName(target) + ".XXXXXX";
  const int out = ::mkstemp(temp.data());
  if (out < 0) {
    ::close(in);
    return false;
  }
  // A new product gets the permissions a newly created file gets; a replaced one keeps its own.
  struct stat st {};
  mode_t mode = 0;
  if (::stat(target.c_str(), &st) == 0) {
    mode = (st.st_mode | S_IWUSR) & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  bool ok = formats::CopyContents(in, out) && ::fchmod(out, mode) == 0 && ::fsync(out) == 0;
  ::close(in);
  if (::close(out) != 0) ok = false;
  ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

}  // namespace corvane
