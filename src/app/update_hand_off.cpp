#include "app/update_hand_off.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include "app/cmd_line_parser.h"
#include "base/data_locations.h"
#include "base/file_publish.h"
#include "base/paths.h"
#include "base/process_start.h"
#include "base/program_dir.h"

namespace corvane {
namespace {

mode_t ProgramMode(const std::string& path) {
  struct stat existing;
  const mode_t mode = ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0755;
  return mode | S_IXUSR;
}

// Copies `source` to a temporary file beside `target` with the target's permissions (at least
// executable by its owner) and renames it over the target.
bool ReplaceWithCopy(const std::string& source, const std::string& target) {
  return PublishCopy(source, target, ProgramMode(target));
}

// The other programs' new executables, left beside `directory` by the update, take their
// programs' places; with `keep` false they are only removed.
void PlaceOtherPrograms(const std::string& directory, Program self, bool keep) {
  for (Program other : kPrograms) {
    if (other == self) continue;
    const std::string leftover = directory + "/" + FilesOf(other).leftoverName;
    const std::string program = directory + "/" + FilesOf(other).installedName;
    if (::access(leftover.c_str(), F_OK) != 0) continue;
    if (keep && ::chmod(leftover.c_str(), ProgramMode(program)) == 0 &&
        std::rename(leftover.c_str(), program.c_str()) == 0) {
      continue;
    }
    ::unlink(leftover.c_str());
  }
}

}  // namespace

std::string CommandLineFromArguments(int argc, char** argv) {
  std::string line;
  for (int i = 0; i < argc; ++i) {
    if (i == 0) {
      line += '"' + std::string(argv[0]) + '"';
    } else {
      line += ' ';
      line += argv[i];
    }
  }
  return line;
}

bool HandleUpdateHandOff(const std::string& commandLine, Program self) {
  if (commandLine.empty()) return false;
  const std::optional<std::string> target = CCmdLineParser(commandLine).GetVal(kHandOffKey);
  if (!target || target->empty()) return false;
  struct stat status;
  if (::stat(target->c_str(), &status) != 0) return false;
  // Only the downloaded updater hands off; any other program given "/path:" starts normally
  // instead of overwriting the file it names.
  const std::string executable = RunningExecutablePath();
  if (FileNameOf(executable) != FilesOf(self).leftoverName) return false;
  for (Program other : kPrograms) {
    if (other != self && FileNameOf(*target) == FilesOf(other).installedName) return false;
  }
  const std::string directory = DirectoryOf(*target);
  if (InstallKindOf(directory) == InstallKind::Installed) return false;

  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  // When the copy failed, the old program starts again, and so the other one stays old too.
  const bool replaced = ReplaceWithCopy(executable, *target);
  PlaceOtherPrograms(directory, self, replaced);
  StartProgram(*target, {});
  return true;
}

void RemoveUpdateLeftover(Program self) {
  const std::string executable = RunningExecutablePath();
  if (executable.empty()) return;
  ::unlink((DirectoryOf(executable) + "/" + FilesOf(self).leftoverName).c_str());
}

}  // namespace corvane
