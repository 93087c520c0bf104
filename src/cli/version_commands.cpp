#include "cli/version_commands.h"

#include <iostream>

#include "base/own_version.h"
#include "base/window_keys.h"
#include "cli/cli_options.h"
#include "net/server_hosts.h"

namespace corvane::cli {

bool ParseUpdateOptions(int argc, char** argv, const char* command) {
  Arguments args;
  if (auto error = ParseArguments(argc, argv, 2, {"update-host", "ca-bundle"}, {}, args)) {
    std::cerr << command << ": " << *error << "\n";
    return false;
  }
  if (!args.operands.empty()) {
    std::cerr << command << ": unexpected argument '" << args.operands.front() << "'\n";
    return false;
  }
  if (auto host = args.Value("update-host")) SetUpdateHost(*host);
  if (auto bundle = args.Value("ca-bundle")) SetCaBundlePath(*bundle);
  return true;
}

const SkinTexts& VersionTexts() {
  static const SkinTexts texts = GetSkinLan(kVerWndOwner, kVerWndKeys);
  return texts;
}

std::optional<UpdateStatus> CheckAndPrint() {
  const SkinTexts& texts = VersionTexts();
  UpdateStatus status;
  const UpdateCheckView view = UpdateCheckThread(status, texts.Get("XmlDespName"), OwnVersion());
  if (view.stateKey == "StateNotConnect") {
    PrintError(texts.Get(view.stateKey));
    return std::nullopt;
  }
  std::cout << "Current version: " << status.currentVersion << "\n"
            << "Offered version: " << status.newVersion << "\n"
            << texts.Get(view.stateKey) << "\n"
            << (view.notesKey.empty() ? view.notes : texts.Get(view.notesKey)) << "\n";
  if (view.byPackageManager)
    std::cout << texts.Get("StateUpdateByPackage") << " " << view.downloadPage << "\n";
  return status;
}

}  // namespace corvane::cli
