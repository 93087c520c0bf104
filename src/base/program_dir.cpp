#include "base/program_dir.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <mutex>

#include "base/paths.h"

namespace corvane {
namespace {

std::mutex g_mutex;
std::string g_directory;
std::string g_fileName;

std::string ExecutablePath() {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  return std::string(buffer, static_cast<std::size_t>(n));
}

std::string ChosenDirectory() {
  {
    std::lock_guard lock(g_mutex);
    if (!g_directory.empty()) return g_directory;
  }
  if (const char* env = std::getenv("CORVANECODE_PROGRAM_DIR"); env && *env) return env;
  return {};
}

}  // namespace

std::string RunningExecutablePath() { return ExecutablePath(); }

std::string ExecutableDirectory() { return DirectoryOf(ExecutablePath()); }

bool ProgramDirectoryIsChosen() { return !ChosenDirectory().empty(); }

std::string ProgramDirectory() {
  std::string chosen = ChosenDirectory();
  return chosen.empty() ? ExecutableDirectory() : chosen;
}

std::string ProgramFileName() {
  {
    std::lock_guard lock(g_mutex);
    if (!g_fileName.empty()) return g_fileName;
  }
  return FileNameOf(ExecutablePath());
}

void SetProgramDirectory(const std::string& directory) {
  std::lock_guard lock(g_mutex);
  g_directory = directory;
}

void SetProgramFileName(const std::string& name) {
  std::lock_guard lock(g_mutex);
  g_fileName = name;
}

}  // namespace corvane
