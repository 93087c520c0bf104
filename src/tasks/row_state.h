// A row of a file list: its path, the text it shows and the state that text stands for. The
// text is in the language of the moment it was set; code tests the state, never the text.
#pragma once

#include <string>

namespace corvane {

enum class RowState {
  Waiting,             // "Waiting..."
  Scanning,            // "Virus Scanning..."
  Signing,             // "Signing..."
  Complete,            // "Complete"
  CompleteKernelMode,  // "Complete: Sign the SYS files using kernel mode"
  Warning,             // "Warning:…": signed, but without a timestamp
  Error,               // "Error:…": the file is not signed (or not packed)
  VerifyFailed,        // "Verify signature failed"
  NotSupported,        // "Prompt: File type is not supported" (verification run)
};

// Complete, in either of its forms.
inline bool IsComplete(RowState state) {
  return state == RowState::Complete || state == RowState::CompleteKernelMode;
}

struct SignTask {
  std::string path;
  std::string state;
  RowState rowState = RowState::Waiting;
};

}  // namespace corvane
