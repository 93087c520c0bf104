// corvanecode-cli update: the version window's check, then the self-update.
#include <iostream>

#include "base/program_dir.h"
#include "cli/cli_options.h"
#include "cli/commands.h"
#include "cli/version_commands.h"

namespace corvane::cli {

int UpdateCommand(int argc, char** argv) {
  if (!ParseUpdateOptions(argc, argv, "update")) return kExitUsage;
  const std::optional<UpdateStatus> status = CheckAndPrint();
  if (!status) return kExitFailed;
  if (!status->hasNew) return kExitOk;

  UpdateProgress report;
  report.state = [](const std::string& key, const char* colour) {
    if (std::string(colour) == kStatusRed) {
      PrintError(VersionTexts().Get(key));
    } else {
      std::cout << VersionTexts().Get(key) << std::endl;
    }
  };
  report.progress = [](int percent) { std::cout << percent << "%" << std::endl; };
  // The command line runs no workers of its own to wait for.
  switch (ExeUpdateThread(*status, report, Workers(), RunningExecutablePath(), Program::Cli)) {
    case UpdateOutcome::Started:
    case UpdateOutcome::Closed:
      return kExitOk;
    case UpdateOutcome::ByPackageManager:  // the check above said where to get it
    case UpdateOutcome::Failed:
      break;
  }
  return kExitFailed;
}

}  // namespace corvane::cli
