// The cabinet run of the CAB/CAT tool, independent of any window: one MSZIP cabinet entry per
// file of the tool list, in list order, under the file's bare name. The cabinet is built as
// the work file "corvanetemp.cab" in the temporary folder; when every row went in it is
// stored at the product path (written beside it and renamed into place) and the work file
// removed. The first file that fails ends the run and nothing is stored.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "app/language.h"
#include "tasks/sign_task_loop.h"

namespace corvane {

struct CabinetRunHooks {
  std::function<void(std::size_t row)> rowChanged;
  // Set to end the run before its next file; nothing is stored then.
  const std::atomic<bool>* stopRequested = nullptr;
};

// Builds the cabinet over `rows` and stores it at `productPath`. Each row that went in shows
// "Complete"; the first one that cannot go in shows "Error:" and "Failed" and ends the loop
// (later rows keep their text, the work file stays). An empty product path (the save dialog
// was cancelled) builds the work file and stores nothing. Returns the product path, empty when
// nothing was stored. A failure of the cabinet itself, or of storing it, raises the composite
// text "CGuiWnd::CreateCab, <status>,".
std::string CreateCab(std::vector<SignTask>& rows, const std::string& productPath,
                      const SkinTexts& texts, const CabinetRunHooks& hooks = {});

}  // namespace corvane
