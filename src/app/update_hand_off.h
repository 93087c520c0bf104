// The update hand-off: the downloaded new executable, started with "/path:" and the quoted
// path of the old one, puts itself in the old one's place and starts it there.
//
// A copy holds two programs, the window and the command line. An update brings each its own
// new executable ("<program>.new.exe" beside it); the hand-off of the program that ran the
// update also moves the other program's new executable into place. A program is only ever
// replaced by its own new release: never the window by the command line or the reverse.
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

// The command line of this process as one text, the form CCmdLineParser reads: the program
// quoted, then each argument as given, separated by spaces.
std::string CommandLineFromArguments(int argc, char** argv);

// "/path:" followed by `executablePath` in double quotes, so that a path with spaces arrives
// whole.
std::string HandOffArgument(const std::string& executablePath);

// True when this process performed a hand-off and must end at once. It does so only when it
// runs as the downloaded new executable of `self` ("<program>.new.exe"), `commandLine` names
// an existing file under "path", that file does not carry the other program's name and its
// directory is not an installed copy. It waits 500 ms for the old program to end, replaces that
// file with a copy of itself (written beside it and renamed over it, so that a failed copy
// leaves the old program whole), moves the other program's new executable, when the update
// left one there, over the other program, and starts the replaced file without arguments.
bool HandleUpdateHandOff(const std::string& commandLine, Program self);

// Deletes the hand-off's leftover "<program>.new.exe" of `self` beside the running
// executable; a missing file is no failure.
void RemoveUpdateLeftover(Program self);

}  // namespace corvane
