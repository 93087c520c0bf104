// Diagnostic lines for whoever runs the program from a terminal. Off unless the environment
// variable CORVANECODE_TRACE is set, so they never mix with a command's output.
#pragma once

namespace corvane {

void Trace(const char* line);

}  // namespace corvane
