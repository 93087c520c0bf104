#include "tasks/tool_run.h"

#include <filesystem>

#include "base/run_log.h"
#include "base/status.h"
#include "tasks/create_cab.h"
#include "tasks/create_cat.h"
#include "tasks/task_texts.h"

namespace corvane {

void RunToolTask(WorkerRegistry& workers, ToolMode mode, const std::vector<std::string>& paths,
                 const SkinTexts& texts, ToolInteraction& interaction, std::string* product,
                 bool announceEnd, HashAlgorithm catalogHash) {
  if (product) product->clear();
  interaction.TipInfoSet("");
  interaction.RunStarted();
  try {
    for (std::size_t row = 0; row < paths.size(); ++row)
      interaction.RowChanged(row, RowState::Waiting, texts.Get("UiTaskStateWait"));
    if (paths.empty()) {
      interaction.TipInfoSet(texts.Get("UiGloErrNoFile"));
    } else {
      auto report = [&](std::size_t row, RowState state, const std::string& text) {
        interaction.RowChanged(row, state, text);
      };
      auto choose = [&] { return interaction.ChooseDestination(mode); };
      const std::string stored =
          mode == ToolMode::Cabinet
              ? CreateCab(paths, texts, report, workers.StopToken(), choose)
              : CreateCat(paths, texts, report, workers.StopToken(), choose, catalogHash);
      if (product) *product = stored;
      std::error_code ec;
      if (!stored.empty() && interaction.CreateAndSignSelected() &&
          std::filesystem::exists(stored, ec))
        interaction.AddToSignList(stored);
    }
  } catch (const std::exception& e) {
    if (std::optional<std::string> text = WorkerResultText(e, texts)) {
      if (text->empty())
        interaction.MessageCleared();
      else
        interaction.MessageSet(*text);
    }
    LogError("%s", e.what());
  }
  if (announceEnd) interaction.RunEnded();
}

bool StartToolRun(WorkerRegistry& workers, ToolMode mode, std::vector<std::string> paths,
                  const SkinTexts& texts, ToolInteraction& interaction) {
  return workers.Launch(
      WorkerKind::Tool,
      [&workers, mode, paths = std::move(paths), &texts, &interaction](std::stop_token) {
        RunToolTask(workers, mode, paths, texts, interaction, nullptr, false);
      },
      [&interaction] { interaction.RunEnded(); });
}

}  // namespace corvane
