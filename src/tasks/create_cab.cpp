#include "tasks/create_cab.h"

#include <cstdio>

#include "base/paths.h"
#include "base/run_log.h"
#include "base/status.h"
#include "formats/cab/cab_compress.h"
#include "tasks/task_texts.h"
#include "tasks/tool_files.h"

namespace corvane {
namespace {}  // namespace

std::string CreateCab(const std::vector<std::string>& paths, const SkinTexts& texts,
                      const ToolRowReport& report, std::stop_token stop,
                      const ChooseSavePath& chooseDestination) {
  std::string product;
  Cabinet::CCompress compressor;
  try {
    const std::string workFile = GetTempFilePath("corvanetemp.cab", "");
    if (!compressor.StartCabinet(workFile)) RaiseStatus(StatusCode::Undefined);
    bool rowFailed = false;
    for (std::size_t row = 0; row < paths.size() && !stop.stop_requested(); ++row) {
      const std::string& path = paths[row];
      try {
        if (!compressor.AddEntry(path, FileNameOf(path))) RaiseStatus(StatusCode::Failed);
        report(row, RowState::Complete, texts.Get("UiTaskStateComplete"));
      } catch (const std::exception& e) {
        report(row, TaskErrorState(e), TaskErrorText(e, texts));
        LogError("%s, %s, %s", "CGuiWnd::CreateCab", path.c_str(), e.what());
        rowFailed = true;
        break;
      }
    }
    if (!compressor.CloseCabinet()) RaiseStatus(StatusCode::Undefined);
    if (!rowFailed && !stop.stop_requested()) {
      std::optional<std::string> destination = chooseDestination();
      if (destination && !destination->empty()) {
        const bool stored = CopyFileForce(workFile, *destination);
        std::remove(workFile.c_str());
        // A product that did not reach its place is a failure, not a finished run.
        if (!stored) RaiseStatus(StatusCode::Undefined);
        product = *destination;
      } else {
        std::remove(workFile.c_str());
      }
    }
  } catch (const std::exception& e) {
    LogError("%s, %s", "CGuiWnd::CreateCab", e.what());
    RaiseStatus("%s, %s,", "CGuiWnd::CreateCab", e.what());
  }
  return product;
}

}  // namespace corvane
