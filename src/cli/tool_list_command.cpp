// corvanecode-cli cab / cat: the cabinet and catalog runs of the CAB/CAT tool, one line per
// file with its row text, and with --sign the signing of the new product right after
// ("Create and Sign").
#include <filesystem>
#include <iostream>

#include "base/worker_registry.h"
#include "cli/cli_options.h"
#include "cli/commands.h"
#include "cli/sign_files.h"
#include "tasks/tool_run.h"

namespace corvane::cli {
namespace {

std::string Absolute(const std::string& path) {
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  return ec ? path : absolute.lexically_normal().string();
}

// The tool run as the command shows it: rows printed after the run, the product stored at
// --out, and with --sign handed on to be signed.
class ToolCommandInteraction : public ToolInteraction {
 public:
  ToolCommandInteraction(const std::vector<std::string>& paths, std::string out, bool sign)
      : rows_(paths.size()), out_(std::move(out)), sign_(sign) {
    for (std::size_t i = 0; i < paths.size(); ++i) rows_[i].path = paths[i];
  }
  void RowChanged(std::size_t row, RowState state, const std::string& text) override {
    rows_[row].rowState = state;
    rows_[row].state = text;
  }
  void MessageSet(const std::string& text) override {
    failed_ = true;
    message_ = text;
  }
  std::optional<std::string> ChooseDestination(ToolMode) override { return out_; }
  bool CreateAndSignSelected() override { return sign_; }
  void AddToSignList(const std::string& product) override { toSign_ = product; }

  const std::vector<SignTask>& rows() const { return rows_; }
  bool failed() const { return failed_; }
  const std::string& message() const { return message_; }
  const std::string& toSign() const { return toSign_; }

 private:
  std::vector<SignTask> rows_;
  std::string out_;
  bool sign_;
  bool failed_ = false;
  std::string message_;
  std::string toSign_;
};

// `command` is "cab" or "cat", `product` what it makes ("cabinet", "catalog").
int ToolListCommand(int argc, char** argv, const std::string& command, const std::string& product,
                    ToolMode mode) {
  std::vector<std::string> values = kSignValueOptions;
  values.push_back("out");
  std::vector<std::string> flags = kSignFlagOptions;
  flags.push_back("sign");
  if (mode == ToolMode::Catalog) flags.push_back("sha256");
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
      if (set && name != "sign" && name != "sha256") {
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
  std::vector<std::string> paths;
  for (const std::string& path : args.operands) paths.push_back(Absolute(path));

  ToolCommandInteraction interaction(paths, Absolute(*out), args.Flag("sign"));
  std::string stored;
  RunToolTask(Workers(), mode, paths, texts, interaction, &stored, true,
              args.Flag("sha256") ? HashAlgorithm::Sha256 : HashAlgorithm::Sha1);
  for (const SignTask& row : interaction.rows()) std::cout << row.path << ": " << row.state << "\n";
  if (interaction.failed()) {
    PrintError(interaction.message());
    return kExitFailed;
  }
  if (stored.empty()) return kExitFailed;
  if (interaction.toSign().empty()) return kExitOk;
  return SignFiles(args, {interaction.toSign()}, command);
}

}  // namespace

int CabCommand(int argc, char** argv) {
  return ToolListCommand(argc, argv, "cab", "cabinet", ToolMode::Cabinet);
}

int CatCommand(int argc, char** argv) {
  return ToolListCommand(argc, argv, "cat", "catalog", ToolMode::Catalog);
}

}  // namespace corvane::cli
