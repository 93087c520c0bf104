// Where the program keeps its own files. A copy in a directory its user can write (a portable
// copy, or the build tree) keeps them beside itself: RunLog/, Config/User.xml and the update's
// leftovers. An installed copy keeps them in the user's XDG directories instead: the run log in
// $XDG_STATE_HOME/corvanecode/, User.xml in $XDG_CONFIG_HOME/corvanecode/ (where the trust and
// intermediate stores are too). A copy counts as installed when the install rules' marker lies
// beside it or when its user may not write its directory.
#pragma once

#include <string>

namespace corvane {

enum class InstallKind {
  Portable,   // files beside the program; the program replaces itself on update
  Installed,  // files in the XDG directories; the package manager owns the programs
};

// The marker the install rules put in place, relative to the programs' directory.
inline constexpr const char* kInstallMarker = "../share/corvanecode/installed";

// How the copy in `programDirectory` is laid out: Installed when the marker is there or when
// access(2) says this process may not write the directory, Portable otherwise.
InstallKind InstallKindOf(const std::string& programDirectory);

// The kind of the running executable's own directory, whatever CORVANECODE_PROGRAM_DIR says:
// it decides whether the program may replace itself.
InstallKind RunningInstallKind();

// True when the run log and User.xml go beside the program directory: it was chosen
// explicitly (CORVANECODE_PROGRAM_DIR, SetProgramDirectory) or the running copy is portable.
bool KeepsFilesBesideProgram();

// $XDG_STATE_HOME/corvanecode, else ~/.local/state/corvanecode; $XDG_CONFIG_HOME/corvanecode,
// else ~/.config/corvanecode. A relative XDG value is ignored, as the XDG rules ask. Empty when
// no home directory is known.
std::string XdgStateDirectory();
std::string XdgConfigDirectory();

// Directory of the run log: <program directory>/RunLog, or the XDG state directory.
std::string RunLogLocation();

// Directory of User.xml: <program directory>/Config, or the XDG configuration directory.
std::string UserFileLocation();

}  // namespace corvane
