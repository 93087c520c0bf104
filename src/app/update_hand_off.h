// The update hand-off: the downloaded new executable, started with "/path:" and the quoted
// path of the old one, puts itself in the old one's place and starts it there.
#pragma once

#include <string>

namespace corvane {

// The name the new executable is downloaded as, beside the running one, and the key of the
// hand-off argument.
inline constexpr const char* kUpdateLeftoverName = "corvanecode.new.exe";
inline constexpr const char* kHandOffKey = "path";

// The command line of this process as one text, the form CCmdLineParser reads: the program
// quoted, then each argument as given, separated by spaces.
std::string CommandLineFromArguments(int argc, char** argv);

// "/path:" followed by `executablePath` in double quotes, so that a path with spaces arrives
// whole.
std::string HandOffArgument(const std::string& executablePath);

// True when this process performed a hand-off and must end at once. It does so only when it
// runs as the downloaded "corvanecode.new.exe" and `commandLine` names an existing file under
// "path": it waits 500 ms for the old program to end, replaces that file with a copy of
// itself (written beside it and renamed over it, so that a failed copy leaves the old program
// whole) and starts it without arguments.
bool HandleUpdateHandOff(const std::string& commandLine);

// Deletes the hand-off's leftover "corvanecode.new.exe" beside the running executable; a
// missing file is no failure.
void RemoveUpdateLeftover();

}  // namespace corvane
