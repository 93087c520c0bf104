// corvanecode-cli install: places the certificates of a file (or of text on standard input)
// where they belong, after showing where that is.
#include <iostream>
#include <iterator>

#include "cli/cli_options.h"
#include "cli/commands.h"
#include "cli/key_store_options.h"
#include "cli/tool_output.h"
#include "tasks/cert_tool_run.h"

namespace corvane::cli {

int InstallCommand(int argc, char** argv) {
  Arguments args;
  if (auto error =
          ParseArguments(argc, argv, 2, {"pkcs11-module", "pin", "pfx-password"}, {"yes"}, args)) {
    std::cerr << "install: " << *error << "\n";
    return kExitUsage;
  }
  if (args.operands.size() != 1) {
    std::cerr << "install: name one certificate file, or - for pasted text (see --help)\n";
    return kExitUsage;
  }
  const std::string& source = args.operands[0];
  InstallCertInput input;
  input.pasteMode = source == "-";
  if (input.pasteMode)
    input.pastedText.assign(std::istreambuf_iterator<char>(std::cin), {});
  else
    input.certFile = source;
  input.pkcs12Password = args.Value("pfx-password").value_or("");

  bool confirmed = false;
  const bool yes = args.Flag("yes");
  auto confirm = [&](const std::vector<InstallItem>& plan) {
    std::cout << "To install:\n";
    for (const InstallItem& item : plan) std::cout << "  " << item.description << "\n";
    if (!yes) {
      std::cout << "Install these? [y/N] " << std::flush;
      std::string answer;
      std::getline(std::cin, answer);
      confirmed = answer == "y" || answer == "Y" || answer == "yes";
    } else {
      confirmed = true;
    }
    return confirmed;
  };
  try {
    std::shared_ptr<KeyStore> store = OpenKeyStore(args);
    UiMessage outcome = InstallCert(input, store.get(), confirm);
    if (!outcome.ok()) {
      if (outcome.key == "UiInstallCertFailedReason")
        PrintToolMessage(CertToolTexts(), outcome);
      else
        std::cerr << "install: " << (input.pasteMode ? "the text" : source)
                  << " holds no certificate, PKCS #7 bundle or PKCS #12 file that opens\n";
      return kExitFailed;
    }
  } catch (const std::exception& e) {
    std::cerr << "install: " << e.what() << "\n";
    return kExitFailed;
  }
  if (!confirmed) {
    std::cout << "Nothing installed.\n";
    return kExitFailed;
  }
  std::cout << "Installed.\n";
  return kExitOk;
}

}  // namespace corvane::cli
