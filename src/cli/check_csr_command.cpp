// corvanecode-cli check-csr: verifies a request file and describes it.
#include <iostream>

#include "cli/cli_options.h"
#include "cli/commands.h"
#include "cli/tool_output.h"
#include "csr/csr_check.h"
#include "zorvat/zorvat_source.h"

namespace corvane::cli {

int CheckCsrCommand(int argc, char** argv) {
  Arguments args;
  std::optional<std::string> error = ParseArguments(argc, argv, 2, {}, {}, args);
  if (!error && args.operands.size() != 1) error = "one request FILE is needed";
  if (error) {
    std::cerr << "check-csr: " << *error << "\n";
    return kExitUsage;
  }
  std::optional<std::string> text = zorvat::ReadFileBytes(args.operands.front());
  if (!text) {
    std::cerr << "check-csr: cannot read " << args.operands.front() << "\n";
    return kExitFailed;
  }
  const SkinTexts& texts = CsrToolTexts();
  CsrCheckResult result = CheckCsr(*text, texts);
  PrintResultText(result.resultText);
  PrintToolMessage(texts, result.message);
  return result.shown ? kExitOk : kExitFailed;
}

}  // namespace corvane::cli
