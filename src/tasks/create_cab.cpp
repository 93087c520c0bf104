#include "tasks/create_cab.h"

#include <cstdio>

#include "app/run_log.h"
#include "app/status.h"
#include "formats/cab/cab_compress.h"
#include "tasks/task_texts.h"
#include "tasks/tool_files.h"

namespace corvane {
namespace {

std::string BareName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string CreateCab(std::vector<SignTask>& rows, const std::string& productPath,
                      const SkinTexts& texts, const CabinetRunHooks& hooks) {
  auto stopped = [&] { return hooks.stopRequested && hooks.stopRequested->load(); };
  auto changed = [&](std::size_t row) {
    if (hooks.rowChanged) hooks.rowChanged(row);
  };
  std::string product;
  Cabinet::CCompress compressor;
  try {
    const std::string workFile = GetTempFilePath("corvanetemp.cab", "");
    if (!compressor.StartCabinet(workFile)) RaiseStatus(StatusCode::Undefined);
    bool rowFailed = false;
    for (std::size_t row = 0; row < rows.size() && !stopped(); ++row) {
      const std::string& path = rows[row].path;
      try {
        if (!compressor.AddEntry(path, BareName(path))) RaiseStatus(StatusCode::Failed);
        rows[row].state = texts.Get("UiTaskStateComplete");
        changed(row);
      } catch (const std::exception& e) {
        rows[row].state = TaskErrorText(e, texts);
        changed(row);
        LogError("%s, %s, %s", "CGuiWnd::CreateCab", path.c_str(), e.what());
        rowFailed = true;
        break;
      }
    }
    if (!compressor.CloseCabinet()) RaiseStatus(StatusCode::Undefined);
    if (!rowFailed && !stopped() && !productPath.empty()) {
      const bool stored = CopyFileForce(workFile, productPath);
      std::remove(workFile.c_str());
      // A product that did not reach its place is a failure, not a finished run.
      if (!stored) RaiseStatus(StatusCode::Undefined);
      product = productPath;
    }
    RaiseSucceed();
  } catch (const std::exception& e) {
    if (IsFailure(e)) {
      LogError("%s, %s", "CGuiWnd::CreateCab", e.what());
      RaiseStatus("%s, %s,", "CGuiWnd::CreateCab", e.what());
    }
  }
  return product;
}

}  // namespace corvane
