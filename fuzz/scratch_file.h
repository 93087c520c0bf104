// The input of a fuzz target as a file, for the readers that take a path.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fuzz {

// One scratch name for the whole run; the file itself lives only while an input is tried,
// since libFuzzer may end the process without running exit handlers.
inline const std::string& ScratchPath() {
  static const std::string path = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "fuzz-input-XXXXXX").string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) std::abort();
    ::close(fd);
    return pattern;
  }();
  return path;
}

struct ScratchFile {
  ScratchFile(const std::uint8_t* data, std::size_t size) {
    std::ofstream out(ScratchPath(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  ~ScratchFile() { std::remove(ScratchPath().c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
};

}  // namespace fuzz
