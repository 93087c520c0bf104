// The error lines of a run log that travel with a feedback report.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// The last five error lines of `content`, oldest first and joined without separators. Each
// is found from the end backwards by its "[Error]" and taken from a 200-byte window that
// begins 30 bytes before it; a line is kept only when it begins (after white space) with "["
// and has "[Error]" after that, so a message merely quoting "[Error]" far into a line is
// skipped and a line longer than the window is clipped.
std::string CollectErrorLinesFrom(std::string_view content);

// The same over the run log file at `path`; empty when it cannot be read.
std::string CollectErrorLines(const std::string& path);

}  // namespace corvane
