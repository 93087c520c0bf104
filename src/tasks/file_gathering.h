// How files reach a list from a folder: the walk below a folder and the refusal of whole
// drives (on this system a filesystem root or a mount point).
#pragma once

#include <string>
#include <vector>

namespace corvane {

// Every file below `folder`, breadth first: the folder's own files in the order the system
// lists them, then those of its subdirectories level by level. Symbolic links to directories
// are not entered (so a cycle cannot loop); a directory that cannot be listed is skipped.
// Hidden files are included.
std::vector<std::string> WalkFolder(const std::string& folder);

// True when `path` names "/" or a directory that is the root of a mounted filesystem.
bool IsWholeDrive(const std::string& path);

// True when `path` names a directory (a name whose attributes cannot be read counts as one,
// and its walk then yields nothing).
bool IsDirectoryForDrop(const std::string& path);

}  // namespace corvane
