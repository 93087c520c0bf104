// corvanecode-cli cab: the cabinet run of the CAB/CAT tool, one line per file with its row
// text, and with --sign the signing of the new cabinet right after ("Create and Sign").
#include <filesystem>
#include <iostream>

#include "cli/cli_options.h"
#include "cli/commands.h"
#include "cli/sign_files.h"
#include "tasks/create_cab.h"

namespace corvane::cli {
namespace {

std::string Absolute(const std::string& path) {
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  return ec ? path : absolute.lexically_normal().string();
}

}  // namespace

int CabCommand(int argc, char** argv) {
  std::vector<std::string> values = kSignValueOptions;
  values.push_back("out");
  std::vector<std::string> flags = kSignFlagOptions;
  flags.push_back("sign");
  Arguments args;
  if (auto error = ParseArguments(argc, argv, 2, values, flags, args)) {
    std::cerr << "cab: " << *error << "\n";
    return kExitUsage;
  }
  std::optional<std::string> out = args.Value("out");
  if (!out || out->empty()) {
    std::cerr << "cab: name the cabinet to write with --out FILE (see --help)\n";
    return kExitUsage;
  }
  if (!args.Flag("sign")) {
    for (const auto& [name, value] : args.values)
      if (name != "out") {
        std::cerr << "cab: --" << name << " signs the cabinet: give --sign as well\n";
        return kExitUsage;
      }
    for (const auto& [name, set] : args.flags)
      if (set && name != "sign") {
        std::cerr << "cab: --" << name << " signs the cabinet: give --sign as well\n";
        return kExitUsage;
      }
  }

  const SkinTexts& texts = MainTexts();
  if (args.operands.empty()) {
    PrintError(texts.Get("UiGloErrNoFile"));
    return kExitUsage;
  }
  std::vector<SignTask> rows;
  for (const std::string& path : args.operands)
    rows.push_back({Absolute(path), texts.Get("UiTaskStateWait")});
  const std::string product = Absolute(*out);

  std::string stored;
  bool failed = false;
  try {
    stored = CreateCab(rows, product, texts);
  } catch (const std::exception&) {
    failed = true;  // logged by the run; the user sees the unknown-error text
  }
  for (const SignTask& row : rows) std::cout << row.path << ": " << row.state << "\n";
  if (failed) {
    PrintError(texts.Get("UiStateUnknownErr"));
    return kExitFailed;
  }
  if (stored.empty()) return kExitFailed;
  if (!args.Flag("sign")) return kExitOk;
  return SignFiles(args, {stored}, "cab");
}

}  // namespace corvane::cli
