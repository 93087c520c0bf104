// The CAB/CAT tab's runs, free of any window: a cabinet or a catalog over the tool list,
// stored where the user chooses, and with "Create and Sign" handed to the signing list.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/language.h"
#include "base/worker_registry.h"
#include "sign/hash_algorithm.h"
#include "tasks/run_interaction.h"

namespace corvane {

enum class ToolMode { Cabinet, Catalog };

class ToolInteraction : public RunInteraction {
 public:
  // The save dialog for the product (cabinets: filter "Cab", "*.cab", extension "cab";
  // catalogs: "Cat", "*.cat", "cat"); nullopt when it was cancelled. A cabinet asks after it
  // was built, a catalog before its first row (an INF in the list is given the catalog's name).
  virtual std::optional<std::string> ChooseDestination(ToolMode /*mode*/) { return std::nullopt; }
  // The tab's own message line ("Please add files").
  virtual void TipInfoSet(const std::string& /*text*/) {}
  // Whether "Create and Sign" is selected at the moment the product is stored.
  virtual bool CreateAndSignSelected() { return false; }
  // Hands the stored product to the owner of the signing list, which lists it once and
  // shows the signing tab.
  virtual void AddToSignList(const std::string& /*product*/) {}
};

// The whole tool run on the calling thread: every row reset to "Waiting...", the product
// built and stored, handed on when "Create and Sign" is selected. Outcomes go through
// `interaction` and the run log; nothing is raised. Returns the stored product's path through
// `product` (empty when nothing was stored). The caller holds the CAB/CAT busy flag
// (StartToolRun does). Without `announceEnd` the caller tells RunEnded itself: StartToolRun
// does once the flag is free, so the window may start the next run at once.
void RunToolTask(WorkerRegistry& workers, ToolMode mode, const std::vector<std::string>& paths,
                 const SkinTexts& texts, ToolInteraction& interaction,
                 std::string* product = nullptr, bool announceEnd = true,
                 HashAlgorithm catalogHash = HashAlgorithm::Sha1);

// The same on a worker of its own under the CAB/CAT busy flag; false (and nothing runs) when
// a tool run holds it. `texts` and `interaction` must outlive the worker.
bool StartToolRun(WorkerRegistry& workers, ToolMode mode, std::vector<std::string> paths,
                  const SkinTexts& texts, ToolInteraction& interaction);

}  // namespace corvane
