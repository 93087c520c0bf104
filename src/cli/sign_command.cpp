// corvanecode-cli sign / verify: the signing and verification runs of the signing tab, one
// line per file with its row text.
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "app/status.h"
#include "cert/cross_cert.h"
#include "cli/cli_options.h"
#include "cli/commands.h"
#include "cli/key_store_options.h"
#include "cli/sign_files.h"
#include "net/server_hosts.h"
#include "sign/authenticode_verifier.h"
#include "tasks/sign_task_loop.h"

namespace corvane::cli {
namespace {

bool AllComplete(const std::vector<SignTask>& rows, const SkinTexts& texts) {
  const std::string& complete = texts.Get("UiTaskStateComplete");
  const std::string& kernel = texts.Get("UiTaskStateSignWithKernelMode");
  for (const SignTask& row : rows)
    if (row.state != complete && row.state != kernel) return false;
  return !rows.empty();
}

std::vector<SignTask> Rows(const std::vector<std::string>& paths) {
  std::vector<SignTask> rows;
  for (const std::string& path : paths) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    rows.push_back({ec ? path : absolute.lexically_normal().string(), {}});
  }
  return rows;
}

void PrintRows(const std::vector<SignTask>& rows) {
  for (const SignTask& row : rows) std::cout << row.path << ": " << row.state << "\n";
}

}  // namespace

int SignCommand(int argc, char** argv) {
  Arguments args;
  if (auto error = ParseArguments(argc, argv, 2, kSignValueOptions, kSignFlagOptions, args)) {
    std::cerr << "sign: " << *error << "\n";
    return kExitUsage;
  }
  if (args.operands.empty()) {
    std::cerr << "sign: name the files to sign (see --help)\n";
    return kExitUsage;
  }
  return SignFiles(args, args.operands, "sign");
}

int SignFiles(const Arguments& args, const std::vector<std::string>& files,
              const std::string& command) {
  std::string passwordError;
  std::optional<std::string> password = ResolvePassword(args, passwordError);
  if (!password) {
    std::cerr << command << ": " << passwordError << "\n";
    return kExitUsage;
  }
  if (auto hosts = args.Values("timestamp-host"); !hosts.empty()) SetTimestampHosts(hosts);
  if (auto host = args.Value("scan-host")) SetScanHost(*host);

  const SkinTexts& texts = MainTexts();
  SignRunSettings settings;
  if (auto pfx = args.Value("pfx")) {
    settings.certificate.pfxChosen = true;
    settings.certificate.pfxPath = *pfx;
    settings.certificate.password = *password;
  }
  settings.kernelSign = args.Flag("kernel");
  settings.append = args.Flag("append");
  settings.timestampProtocol =
      args.Flag("rfc3161") ? TimestampProtocol::Rfc3161 : TimestampProtocol::Authenticode;
  settings.adviseDoubleCertificate = false;
  const std::optional<std::string> crossCert = args.Value("cross-cert");

  CertManager manager;
  if (auto name = args.Value("store-cert"); name && !settings.certificate.pfxChosen) {
    // Logging in here asks for the PIN once, before the run, and names a refused one.
    std::shared_ptr<KeyStore> store = OpenKeyStore(args);
    try {
      settings.certificate.storeIdentity = IdentityOf(FindCertificate(*store, *name));
    } catch (const std::exception& e) {
      std::cerr << command << ": "
                << (HasStatus(e, StatusCode::Undefined)
                        ? "no certificate of the store matches " + *name
                        : std::string(e.what()))
                << "\n";
      return kExitFailed;
    }
    settings.certificate.storeChosen = true;
    manager.SetCertStore(store);
  }

  bool refused = false;
  SignRunHooks hooks;
  hooks.message = [&](const std::string& text) {
    if (text.empty()) return;
    PrintError(text);
    refused = true;
  };
  hooks.showTip = [&](const std::string& text) {
    std::cerr << texts.Get("MsgTypeWarn") << " " << text << "\n";
  };
  const SkinTexts crossTexts =
      GetSkinLan("CrossCertWnd", std::vector<const char*>{"TipSelCrossCert", "TipNotExistCrossCert",
                                                          "TipIncompVerifyInfo", "TipCertNotMatch",
                                                          "TipNotCorvane"});
  hooks.chooseCrossCert = [&](const ChainList& chain) -> std::string {
    std::string refusal = CheckCrossCertChoice(crossCert.value_or(""), chain);
    if (refusal.empty()) return *crossCert;
    if (!crossCert) PrintError(crossTexts.Get("TipNotCorvane"));
    PrintError(crossTexts.Get(refusal));
    refused = true;
    return {};
  };

  SignTaskRunner runner(manager, texts, hooks);
  std::vector<SignTask> rows = Rows(files);
  runner.RunSign(rows, settings);
  if (refused) return kExitFailed;  // the run stopped before its first file; the message says why
  PrintRows(rows);
  return AllComplete(rows, texts) ? kExitOk : kExitFailed;
}

int VerifyCommand(int argc, char** argv) {
  Arguments args;
  std::vector<std::string> trust;
  // --trust may be given several times; collect them by hand before the generic parse.
  std::vector<char*> rest{argv[0], argv[1]};
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--trust" && i + 1 < argc) {
      trust.push_back(argv[++i]);
    } else if (arg.rfind("--trust=", 0) == 0) {
      trust.push_back(arg.substr(8));
    } else {
      rest.push_back(argv[i]);
    }
  }
  if (auto error =
          ParseArguments(static_cast<int>(rest.size()), rest.data(), 2, {}, {"kernel"}, args)) {
    std::cerr << "verify: " << *error << "\n";
    return kExitUsage;
  }
  if (args.operands.empty()) {
    std::cerr << "verify: name the files to verify (see --help)\n";
    return kExitUsage;
  }
  if (!trust.empty()) SetTrustLocations(trust);

  const SkinTexts& texts = MainTexts();
  SignRunSettings settings;
  settings.kernelSign = args.Flag("kernel");
  settings.verifyEveryFormat = true;
  CertManager manager;
  SignTaskRunner runner(manager, texts, {});
  std::vector<SignTask> rows = Rows(args.operands);
  runner.RunVerify(rows, settings);

  for (const SignTask& row : rows) {
    std::cout << row.path << ": " << row.state << "\n";
    if (row.state == texts.Get("UiPromptFileTypeErr")) continue;
    VerifyReport report = VerifyTrust(row.path);
    auto describe = [](const char* label, const SignatureReport& s) {
      std::cout << "  " << label << ": " << (s.valid ? "valid" : "not valid");
      if (!s.digestAlgorithm.empty()) std::cout << ", " << s.digestAlgorithm;
      if (!s.signerSubject.empty())
        std::cout << ", signed by " << s.signerSubject << " (issued by " << s.signerIssuer << ")";
      if (s.timestamped) {
        char when[32];
        std::tm tm{};
        gmtime_r(&s.timestamp, &tm);
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", &tm);
        std::cout << ", timestamped " << when << (s.rfc3161 ? " (RFC 3161)" : "");
      }
      std::cout << "\n";
      for (const std::string& problem : s.problems) std::cout << "    - " << problem << "\n";
    };
    describe("primary signature", report.primary);
    int index = 1;
    for (const SignatureReport& nested : report.nested)
      describe(("nested signature " + std::to_string(index++)).c_str(), nested);
  }
  return AllComplete(rows, texts) ? kExitOk : kExitFailed;
}

}  // namespace corvane::cli
