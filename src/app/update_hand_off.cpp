#include "app/update_hand_off.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "app/cmd_line_parser.h"
#include "app/file_publish.h"
#include "app/process_start.h"
#include "app/program_dir.h"

namespace corvane {
namespace {

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Copies `source` to a temporary file beside `target` with the target's permissions (at least
// executable by its owner) and renames it over the target.
bool ReplaceWithCopy(const std::string& source, const std::string& target) {
  struct stat existing;
  const mode_t mode = ::stat(target.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0755;
  return PublishCopy(source, target, mode | S_IXUSR);
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

std::string HandOffArgument(const std::string& executablePath) {
  return std::string("/") + kHandOffKey + ":\"" + executablePath + "\"";
}

bool HandleUpdateHandOff(const std::string& commandLine) {
  if (commandLine.empty()) return false;
  const std::optional<std::string> target = CCmdLineParser(commandLine).GetVal(kHandOffKey);
  if (!target || target->empty()) return false;
  struct stat status;
  if (::stat(target->c_str(), &status) != 0) return false;
  // Only the downloaded updater hands off; any other program given "/path:" starts normally
  // instead of overwriting the file it names.
  const std::string self = RunningExecutablePath();
  if (NameOf(self) != kUpdateLeftoverName) return false;

  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  // Neither result changes the outcome: when the copy failed, the old program starts again.
  ReplaceWithCopy(self, *target);
  StartProgram(*target, {});
  return true;
}

void RemoveUpdateLeftover() {
  const std::string self = RunningExecutablePath();
  if (self.empty()) return;
  ::unlink((DirectoryOf(self) + "/" + kUpdateLeftoverName).c_str());
}

}  // namespace corvane
