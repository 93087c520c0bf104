// corvanecode-cli install: places the certificates of a file (or of text on standard input)
// where they belong, after showing where that is.
#include <iostream>
#include <iterator>

#include "app/status.h"
#include "cert/cert_decode.h"
#include "cert/cert_install.h"
#include "cli/cli_options.h"
#include "cli/commands.h"
#include "cli/key_store_options.h"

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
  std::vector<X509Ptr> certificates;
  try {
    std::string bytes;
    if (source == "-") {
      bytes.assign(std::istreambuf_iterator<char>(std::cin), {});
      bytes = NormalizePastedText(bytes);
    } else {
      bytes = ReadWholeFile(source);
    }
    certificates = CertificatesFromInput(bytes, args.Value("pfx-password").value_or(""));
  } catch (const std::exception&) {
    std::cerr << "install: " << (source == "-" ? "the text" : source)
              << " holds no certificate, PKCS #7 bundle or PKCS #12 file that opens\n";
    return kExitFailed;
  }
  try {
    std::shared_ptr<KeyStore> store = OpenKeyStore(args);
    std::vector<InstallItem> plan = PlanInstall(std::move(certificates), store.get());
    bool yes = args.Flag("yes");
    bool done = InstallCertificates(plan, store.get(), [&](const std::vector<InstallItem>& p) {
      std::cout << "To install:\n";
      for (const InstallItem& item : p) std::cout << "  " << item.description << "\n";
      if (yes) return true;
      std::cout << "Install these? [y/N] " << std::flush;
      std::string answer;
      std::getline(std::cin, answer);
      return answer == "y" || answer == "Y" || answer == "yes";
    });
    if (!done) {
      std::cout << "Nothing installed.\n";
      return kExitFailed;
    }
    std::cout << "Installed.\n";
    return kExitOk;
  } catch (const std::exception& e) {
    std::cerr << "install: " << e.what() << "\n";
    return kExitFailed;
  }
}

}  // namespace corvane::cli
