#include "base/data_locations.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "base/program_dir.h"

namespace corvane {
namespace {

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_dir && *found->pw_dir) {
    return found->pw_dir;
  }
  return {};
}

// The XDG base directory named by `variable`, else `fallback` under the home directory.
std::string XdgBase(const char* variable, const char* fallback) {
  if (const char* value = std::getenv(variable); value && value[0] == '/') return value;
  const std::string home = HomeDirectory();
  return home.empty() ? home : home + "/" + fallback;
}

}  // namespace

InstallKind InstallKindOf(const std::string& programDirectory) {
  if (::access((programDirectory + "/" + kInstallMarker).c_str(), F_OK) == 0)
    return InstallKind::Installed;
  return ::access(programDirectory.c_str(), W_OK) == 0 ? InstallKind::Portable
                                                       : InstallKind::Installed;
}

InstallKind RunningInstallKind() { return InstallKindOf(ExecutableDirectory()); }

bool KeepsFilesBesideProgram() {
  return ProgramDirectoryIsChosen() || RunningInstallKind() == InstallKind::Portable;
}

std::string XdgStateDirectory() {
  const std::string base = XdgBase("XDG_STATE_HOME", ".local/state");
  return base.empty() ? base : base + "/corvanecode";
}

std::string XdgConfigDirectory() {
  const std::string base = XdgBase("XDG_CONFIG_HOME", ".config");
  return base.empty() ? base : base + "/corvanecode";
}

std::string RunLogLocation() {
  return KeepsFilesBesideProgram() ? ProgramDirectory() + "/RunLog" : XdgStateDirectory();
}

std::string UserFileLocation() {
  return KeepsFilesBesideProgram() ? ProgramDirectory() + "/Config" : XdgConfigDirectory();
}

}  // namespace corvane
