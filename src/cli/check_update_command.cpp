// corvanecode-cli check-update: the version window's check.
#include "cli/cli_options.h"
#include "cli/commands.h"
#include "cli/version_commands.h"

namespace corvane::cli {

int CheckUpdateCommand(int argc, char** argv) {
  if (!ParseUpdateOptions(argc, argv, "check-update")) return kExitUsage;
  return CheckAndPrint() ? kExitOk : kExitFailed;
}

}  // namespace corvane::cli
