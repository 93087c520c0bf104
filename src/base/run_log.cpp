#include "base/run_log.h"

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "base/data_locations.h"
#include "base/program_dir.h"
#include "base/status.h"

namespace corvane {
namespace {

std::mutex& LogMutex() {
  static std::mutex mutex;
  return mutex;
}

std::tm LocalNow() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

// Archives the current file when it has reached the limit. Failures are ignored: the
// line then goes into the oversized file rather than being lost.
void RotateIfFull(const std::string& path) {
  std::error_code ec;
  std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || size < kRunLogLimit) return;
  std::string archive = ArchivedRunLogName(path, LocalNow());
  std::filesystem::rename(path, archive, ec);
  if (ec) {
    std::filesystem::copy_file(path, archive, std::filesystem::copy_options::overwrite_existing,
                               ec);
    if (!ec) std::filesystem::remove(path, ec);
  }
}

}  // namespace

std::string RunLogDirectory() { return RunLogLocation(); }

std::string RunLogPath() {
  std::string directory = RunLogDirectory();
  std::string name = ProgramFileName();
  if (directory.empty() || name.empty()) return {};
  return directory + "/" + name + ".log";
}

std::string ArchivedRunLogName(const std::string& currentPath, const std::tm& when) {
  std::string stem = currentPath.size() >= 4 ? currentPath.substr(0, currentPath.size() - 4) : "";
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "_%04d-%02d-%02d %02d-%02d-%02d.log", when.tm_year + 1900,
                when.tm_mon + 1, when.tm_mday, when.tm_hour, when.tm_min, when.tm_sec);
  return stem + stamp;
}

void LogError(const char* format, ...) {
  try {
    va_list args;
    va_start(args, format);
    char small[1024];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    std::string message;
    if (n >= 0 && static_cast<std::size_t>(n) < sizeof small) {
      message.assign(small, static_cast<std::size_t>(n));
    } else if (n >= 0) {
      message.resize(static_cast<std::size_t>(n) + 1);
      std::vsnprintf(message.data(), message.size(), format, args);
      message.resize(static_cast<std::size_t>(n));
    }
    va_end(args);

    std::lock_guard lock(LogMutex());
    const std::string directory = RunLogDirectory();
    const std::string name = ProgramFileName();
    if (directory.empty() || name.empty()) return;
    std::error_code ec;
    // Created on every call so that a deleted directory does not silence the log.
    std::filesystem::create_directories(directory, ec);
    const std::string path = directory + "/" + name + ".log";
    RotateIfFull(path);
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (!file) return;
    std::tm now = LocalNow();
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &now);
    std::fprintf(file, "[%s] [Error] %s\n", stamp, message.c_str());
    std::fflush(file);
    std::fclose(file);
  } catch (...) {
    // A log line is never worth a failure of its caller.
  }
}

}  // namespace corvane
