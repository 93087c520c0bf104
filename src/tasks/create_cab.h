// The cabinet run of the CAB/CAT tool, independent of any window: one MSZIP cabinet entry per
// file of the tool list, in list order, under the file's bare name. The cabinet is built as
// the work file "corvanetemp.cab" in the temporary folder; when every row went in it is
// stored at the product path (written beside it and renamed into place) and the work file
// removed. The first file that fails ends the run and nothing is stored.
#pragma once

#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "base/language.h"
#include "base/ui_message.h"
#include "tasks/row_state.h"

namespace corvane {

// A run's report of one row's new state and text.
using ToolRowReport = std::function<void(std::size_t row, RowState state, const std::string& text)>;

// Builds the cabinet over `paths` as the work file. Each row that went in shows "Complete";
// the first one that cannot go in shows "Error:" and "Failed" and ends the loop (later rows
// keep their text, the work file stays). When every row went in and no stop was requested,
// the destination is asked for and the cabinet stored there; a cancelled choice stores
// nothing and removes the work file. Returns the product path, empty when nothing was stored.
// A failure of the cabinet itself, or of storing it, raises the composite text
// "CGuiWnd::CreateCab, <status>,".
std::string CreateCab(const std::vector<std::string>& paths, const SkinTexts& texts,
                      const ToolRowReport& report, std::stop_token stop,
                      const ChooseSavePath& chooseDestination);

}  // namespace corvane
