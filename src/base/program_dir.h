// Where the program lives: the directory of the running executable and its file name.
// A portable copy keeps its run log and user configuration beside it (app/data_locations.h).
#pragma once

#include <string>

namespace corvane {

// Directory of the executable, without a trailing slash. The environment variable
// CORVANECODE_PROGRAM_DIR, or SetProgramDirectory, puts it elsewhere (tests, read-only installs).
std::string ProgramDirectory();

// File name of the executable, e.g. "corvanecode-cli".
std::string ProgramFileName();

// True when CORVANECODE_PROGRAM_DIR or SetProgramDirectory chose the program directory.
bool ProgramDirectoryIsChosen();

// Directory of the running executable itself, whatever the overrides say.
std::string ExecutableDirectory();

// Full path of the running executable itself, whatever the overrides say; empty when the
// system cannot tell it.
std::string RunningExecutablePath();

// Overrides both for the rest of the process; an empty text restores the defaults.
void SetProgramDirectory(const std::string& directory);
void SetProgramFileName(const std::string& name);

}  // namespace corvane
