// The two programs of a copy, the window and the command line, and the file names an update
// gives each of them.
#pragma once

#include <string>

namespace corvane {

enum class Program { Window, Cli };

// The window's names, then the command line's.
struct ProgramFiles {
  const char* installedName;  // "corvanecode", "corvanecode-cli"
  const char* downloadName;   // on the download server: "corvanecode.exe", "corvanecode-cli.exe"
  const char* leftoverName;   // beside it: "corvanecode.new.exe", "corvanecode-cli.new.exe"
};

inline constexpr Program kPrograms[] = {Program::Window, Program::Cli};
const ProgramFiles& FilesOf(Program program);

// The window's new executable, beside it, and the key of the hand-off argument.
inline constexpr const char* kUpdateLeftoverName = "corvanecode.new.exe";
inline constexpr const char* kHandOffKey = "path";

// "/path:" followed by `executablePath` in double quotes, so that a path with spaces arrives
// whole.
std::string HandOffArgument(const std::string& executablePath);

}  // namespace corvane
