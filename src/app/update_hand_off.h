// The update hand-off: the downloaded new executable, started with "/path:" and the quoted
// path of the old one, puts itself in the old one's place and starts it there.
//
// A copy holds two programs, the window and the command line. An update brings each its own
// new executable ("<program>.new.exe" beside it); the hand-off of the program that ran the
// update also moves the other program's new executable into place. A program is only ever
// replaced by its own new release: never the window by the command line or the reverse.
#pragma once

#include <string>

#include "base/program_files.h"

namespace corvane {

// The command line of this process as one text, the form CCmdLineParser reads: the program
// quoted, then each argument as given, separated by spaces.
std::string CommandLineFromArguments(int argc, char** argv);

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
