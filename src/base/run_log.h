// The run log: one error line per handled failure, in RunLog/<executable>.log beside a portable
// program or in $XDG_STATE_HOME/corvanecode/<executable>.log for an installed one
// (app/data_locations.h), archived when it reaches kRunLogLimit bytes. Logging never throws.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace corvane {

inline constexpr std::uintmax_t kRunLogLimit = 3u * 1024u * 1024u;

// printf-style; the line gets the "[date time] [Error] " prefix and a line end.
void LogError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Directory and current file of the log, as LogError computes them; empty when neither a
// program directory nor a home directory is known.
std::string RunLogDirectory();
std::string RunLogPath();

// Name an archive of `currentPath` gets at local time `when`:
// "<path without .log>_YYYY-MM-DD hh-mm-ss.log".
std::string ArchivedRunLogName(const std::string& currentPath, const std::tm& when);

}  // namespace corvane
