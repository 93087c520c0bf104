// Starting another program the way the platform shell's "open" does: as a process of its
// own that this one does not wait for.
#pragma once

#include <string>
#include <vector>

namespace corvane {

// Starts `program` with `arguments` (argv[0] is the program's path) and this process's
// environment. False when it cannot be started: missing, not executable or not a program.
bool StartProgram(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace corvane
