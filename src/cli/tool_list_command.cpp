// corvanecode-cli cab / cat: the cabinet and catalog runs of the CAB/CAT tool, one line per
// file with its row text, and with --sign the signing of the new product right after
// ("Create and Sign").
#include <filesystem>
#include <functional>
#include <iostream>

#include "cli/cli_options.h"
#include "cli/commands.h"
#include "cli/sign_files.h"
#include "tasks/create_cab.h"
#include "tasks/create_cat.h"

namespace corvane::cli {
namespace {

std::string Absolute(const std::string& path) {
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  return ec ? path : absolute.lexically_normal().string();
}

using CreateProduct =
    std::function<std::string(std::vector<SignTask>&, const std::string&, const SkinTexts&)>;

// `command` is "cab" or "cat", `product` what it makes ("cabinet", "catalog").
int ToolListCommand(int argc, char** argv, const std::string& command, const std::string& product,
                    const CreateProduct& create) {
  std::vector<std::string> values = kSignValueOptions;
  values.push_back("out");
  std::vector<std::string> flags = kSignFlagOptions;
  flags.push_back("sign");
  Arguments args;
  if (auto error = ParseArguments(argc, argv, 2, values, flags, args)) {
    std::cerr << command << ": " << *error << "\n";
    return kExitUsage;
  }
  std::optional<std::string> out = args.Value("out");
  if (!out || out->empty()) {
    std::cerr << command << ": name the " << product << " to write with --out FILE (see --help)\n";
    return kExitUsage;
  }
  if (!args.Flag("sign")) {
    for (const auto& [name, value] : args.values)
      if (name != "out") {
        std::cerr << command << ": --" << name << " signs the " << product
                  << ": give --sign as well\n";
        return kExitUsage;
      }
    for (const auto& [name, set] : args.flags)
      if (set && name != "sign") {
        std::cerr << command << ": --" << name << " signs the " << product
                  << ": give --sign as well\n";
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
  const std::string productPath = Absolute(*out);

  std::string stored;
  bool failed = false;
  try {
    stored = create(rows, productPath, texts);
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
  return SignFiles(args, {stored}, command);
}

}  // namespace

int CabCommand(int argc, char** argv) {
  return ToolListCommand(argc, argv, "cab", "cabinet",
                         [](std::vector<SignTask>& rows, const std::string& path,
                            const SkinTexts& texts) { return CreateCab(rows, path, texts); });
}

int CatCommand(int argc, char** argv) {
  return ToolListCommand(argc, argv, "cat", "catalog",
                         [](std::vector<SignTask>& rows, const std::string& path,
                            const SkinTexts& texts) { return CreateCat(rows, path, texts); });
}

}  // namespace corvane::cli
