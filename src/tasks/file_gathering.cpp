#include "tasks/file_gathering.h"

#include <dirent.h>
#include <sys/stat.h>

#include <deque>
#include <memory>

namespace corvane {

std::vector<std::string> WalkFolder(const std::string& folder) {
  std::vector<std::string> files;
  std::deque<std::string> queue{folder};
  while (!queue.empty()) {
    std::string dir = std::move(queue.front());
    queue.pop_front();
    std::unique_ptr<DIR, int (*)(DIR*)> stream(opendir(dir.c_str()), closedir);
    if (!stream) continue;
    const std::string prefix = dir.ends_with('/') ? dir : dir + "/";
    while (dirent* entry = readdir(stream.get())) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      const std::string path = prefix + name;
      struct stat st {};
      if (lstat(path.c_str(), &st) != 0) continue;
      if (S_ISDIR(st.st_mode)) {
        queue.push_back(path);
      } else if (S_ISLNK(st.st_mode)) {
        // A link to a file is listed like the file; a link to a directory is not followed.
        struct stat target {};
        if (stat(path.c_str(), &target) == 0 && !S_ISDIR(target.st_mode)) files.push_back(path);
      } else {
        files.push_back(path);
      }
    }
  }
  return files;
}

bool IsWholeDrive(const std::string& path) {
  struct stat self {};
  if (stat(path.c_str(), &self) != 0 || !S_ISDIR(self.st_mode)) return false;
  struct stat parent {};
  const std::string up = (path.ends_with('/') ? path : path + "/") + "..";
  if (stat(up.c_str(), &parent) != 0) return false;
  // The root is its own parent; a mount point lives on another device than its parent.
  if (self.st_ino == parent.st_ino && self.st_dev == parent.st_dev) return true;
  return self.st_dev != parent.st_dev;
}

bool IsDirectoryForDrop(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return true;
  return S_ISDIR(st.st_mode);
}

}  // namespace corvane
