// One running copy of the desktop program per user: a lock file in the user's runtime
// directory, held for the life of the process (the system drops it when the process ends,
// however it ends).
#pragma once

#include <string>

namespace corvane {

// "$XDG_RUNTIME_DIR/corvanecode.lock", or "/tmp/corvanecode-<uid>.lock" without a runtime
// directory.
std::string SingleInstanceLockPath();

class SingleInstanceLock {
 public:
  explicit SingleInstanceLock(const std::string& path = SingleInstanceLockPath());
  ~SingleInstanceLock();
  SingleInstanceLock(const SingleInstanceLock&) = delete;
  SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

  // False when another process holds the lock (or the file cannot be opened at all).
  bool acquired() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace corvane
