// corvanecode-cli cert-info: what the program makes of a PFX file, checked in the order a
// signing run checks it.
#include <iostream>

#include "base/run_log.h"
#include "base/worker_registry.h"
#include "cert/cert_manager.h"
#include "cert/chain_warning.h"
#include "cli/cli_options.h"
#include "cli/commands.h"
#include "crypto/x509_names.h"
#include "tasks/signing_session.h"

namespace corvane::cli {

int CertInfoCommand(int argc, char** argv) {
  Arguments args;
  if (auto error = ParseArguments(argc, argv, 2,
                                  {"pfx", "password", "password-file", "password-env"}, {}, args)) {
    std::cerr << "cert-info: " << *error << "\n";
    return kExitUsage;
  }
  const SkinTexts& texts = MainTexts();
  std::optional<std::string> pfx = args.Value("pfx");
  if (!pfx || pfx->empty()) {
    PrintError(texts.Get("UiGloErrSelCert"));
    return kExitUsage;
  }
  std::string passwordError;
  std::optional<std::string> password = ResolvePassword(args, passwordError);
  if (!password) {
    std::cerr << "cert-info: " << passwordError << "\n";
    return kExitUsage;
  }
  // The certificate is checked and loaded as a signing run does it.
  struct Messages : RunInteraction {
    void MessageSet(const std::string& text) override { PrintError(text); }
  } messages;
  UsageCounters counters;
  SigningSession session(Workers(), counters, texts);
  session.ChoosePfx(*pfx);
  SignRunSettings settings;
  settings.password = *password;
  CertManager manager;
  try {
    if (!session.LoadChosenCert(manager, settings, messages)) return kExitFailed;
  } catch (const std::exception& e) {
    LogError("%s, %s", "corvanecode-cli::CertInfo", e.what());
    PrintError(texts.Get("UiGloErrPwdErrOrCertErr"));
    return kExitFailed;
  }

  try {
    X509* cert = manager.certificate();
    CertIdentity identity = manager.GetIdentity();
    bool expired = manager.IsExpired();
    bool codeSigning = manager.IsCodeSigning();
    std::cout << "Subject:          " << identity.subjectName << "\n"
              << "Issuer:           " << identity.issuerName << "\n"
              << "Serial:           " << identity.serialHex << "\n"
              << "Thumbprint:       " << Thumbprint(cert) << "\n"
              << "Valid from:       " << NotBeforeText(cert) << "\n"
              << "Valid to:         " << NotAfterText(cert) << "\n"
              << "Expired:          " << (expired ? "yes" : "no") << "\n"
              << "Code signing:     " << (codeSigning ? "yes" : "no") << "\n";
    manager.BuildChain();
    manager.RecognizeOwnCa();
    std::cout << "Chain:" << (manager.chain().empty() ? " (none)" : "") << "\n";
    int index = 1;
    for (const ChainCert& entry : manager.chain())
      std::cout << "  " << index++ << ". " << entry.subjectName << " (issued by "
                << entry.issuerName << ", serial " << entry.serialHex << ")\n";
    std::cout << "ownCaIssued:      " << (manager.ownCaIssued() ? "yes" : "no") << "\n"
              << "chineseNamedRoot: " << (manager.chineseNamedRoot() ? "yes" : "no") << "\n";
    if (expired) {
      PrintError(texts.Get("UiGloErrCertOutOfDate"));
      return kExitNotUsable;
    }
    if (!codeSigning) {
      PrintError(texts.Get("UiGloErrTypeErr"));
      return kExitNotUsable;
    }
    // It can sign, but a verifier elsewhere may not get from its signatures to a root.
    if (std::optional<std::string> warning = ChainWarningText(manager, texts))
      std::cerr << texts.Get("MsgTypeWarn") << " " << *warning << "\n";
    return kExitOk;
  } catch (const std::exception& e) {
    LogError("%s, %s", "corvanecode-cli::CertInfo", e.what());
    PrintError(texts.Get("UiStateUnknownErr"));
    return kExitFailed;
  }
}

}  // namespace corvane::cli
