// A TCP port on 127.0.0.1 that takes connections and never answers: the kernel completes each
// connection from the listen backlog, nothing ever reads or writes. A client without a time
// limit waits on it forever.
#pragma once

#include <string>

namespace corvane::test {

class SilentListener {
 public:
  SilentListener();
  ~SilentListener();
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;

  // "127.0.0.1:<port>".
  std::string hostPort() const;

 private:
  int fd_ = -1;
  int port_ = 0;
};

}  // namespace corvane::test
