// corvanecode-cli sign / verify: the signing and verification runs of the signing tab, one
// line per file with its row text.
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>

#include "base/status.h"
#include "base/worker_registry.h"
#include "cert/cross_cert.h"
#include "cli/cli_options.h"
#include "cli/commands.h"
#include "cli/key_store_options.h"
#include "cli/sign_files.h"
#include "net/server_hosts.h"
#include "net/usage_reporters.h"
#include "sign/authenticode_verifier.h"
#include "sign/subject_format.h"
#include "tasks/signing_session.h"

namespace corvane::cli {
namespace {

std::vector<std::string> AbsolutePaths(const std::vector<std::string>& paths) {
  std::vector<std::string> absolute;
  for (const std::string& path : paths) {
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(path, ec);
    absolute.push_back(ec ? path : full.lexically_normal().string());
  }
  return absolute;
}

// What a run reports, kept as the rows of the list the command prints.
class RowsInteraction : public RunInteraction {
 public:
  explicit RowsInteraction(const std::vector<std::string>& paths) : rows_(paths.size()) {
    for (std::size_t i = 0; i < paths.size(); ++i) rows_[i].path = paths[i];
  }
  void RowChanged(std::size_t row, RowState state, const std::string& text) override {
    rows_[row].rowState = state;
    rows_[row].state = text;
  }
  void MessageSet(const std::string& text) override {
    PrintError(text);
    refused_ = true;
  }
  bool AllComplete() const {
    for (const SignTask& row : rows_)
      if (!IsComplete(row.rowState)) return false;
    return !rows_.empty();
  }
  void PrintRows() const {
    for (const SignTask& row : rows_) std::cout << row.path << ": " << row.state << "\n";
  }
  // The run stopped before its first file; the message said why.
  bool refused() const { return refused_; }
  const std::vector<SignTask>& rows() const { return rows_; }

 protected:
  std::vector<SignTask> rows_;
  bool refused_ = false;
};

class SignInteraction : public RowsInteraction {
 public:
  SignInteraction(const std::vector<std::string>& paths, std::optional<std::string> crossCert,
                  const SkinTexts& texts)
      : RowsInteraction(paths),
        crossCert_(std::move(crossCert)),
        texts_(texts),
        crossTexts_(GetSkinLan(
            "CrossCertWnd",
            std::vector<const char*>{"TipSelCrossCert", "TipNotExistCrossCert",
                                     "TipIncompVerifyInfo", "TipCertNotMatch", "TipNotCorvane"})) {}

  void ShowTip(const std::string& text) override {
    std::cerr << texts_.Get("MsgTypeWarn") << " " << text << "\n";
  }
  std::string ChooseCrossCert(const ChainList& chain) override {
    std::string refusal = CheckCrossCertChoice(crossCert_.value_or(""), chain);
    if (refusal.empty()) return *crossCert_;
    if (!crossCert_) PrintError(crossTexts_.Get("TipNotCorvane"));
    PrintError(crossTexts_.Get(refusal));
    refused_ = true;
    return {};
  }

 private:
  std::optional<std::string> crossCert_;
  const SkinTexts& texts_;
  const SkinTexts crossTexts_;
};

// One verification report as the command prints it.
void Describe(const char* label, const SignatureReport& s) {
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
  if (s.pageHashes) std::cout << ", with page hashes";
  std::cout << "\n";
  for (const std::string& problem : s.problems) std::cout << "    - " << problem << "\n";
}

class VerifyInteraction : public RowsInteraction {
 public:
  using RowsInteraction::RowsInteraction;
  void RowVerified(std::size_t row, const VerifyReport& report) override {
    reports_.resize(rows_.size());
    reports_[row] = report;
  }
  void Print() const {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
      std::cout << rows_[i].path << ": " << rows_[i].state << "\n";
      if (i >= reports_.size() || !reports_[i]) continue;
      Describe("primary signature", reports_[i]->primary);
      int index = 1;
      for (const SignatureReport& nested : reports_[i]->nested)
        Describe(("nested signature " + std::to_string(index++)).c_str(), nested);
    }
  }

 private:
  std::vector<std::optional<VerifyReport>> reports_;
};

// The value of --jobs: a whole number from 1 to kMaxSignJobs, 1 when not given.
std::optional<unsigned> ParseJobs(const Arguments& args) {
  const std::optional<std::string> text = args.Value("jobs");
  if (!text) return 1u;
  if (text->empty() || text->size() > 2 ||
      text->find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  const unsigned jobs = static_cast<unsigned>(std::stoul(*text));
  if (jobs < 1 || jobs > kMaxSignJobs) return std::nullopt;
  return jobs;
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
  const std::optional<unsigned> jobs = ParseJobs(args);
  if (!jobs) {
    std::cerr << command << ": --jobs must be a whole number from 1 to " << kMaxSignJobs << "\n";
    return kExitUsage;
  }
  std::string passwordError;
  std::optional<std::string> password = ResolvePassword(args, passwordError);
  if (!password) {
    std::cerr << command << ": " << passwordError << "\n";
    return kExitUsage;
  }
  if (auto hosts = args.Values("timestamp-host"); !hosts.empty()) SetTimestampHosts(hosts);
  if (auto host = args.Value("scan-host")) SetScanHost(*host);

  const SkinTexts& texts = MainTexts();
  UsageCounters counters;
  SigningSession session(Workers(), counters, texts);
  SignRunSettings settings;
  settings.password = *password;
  settings.kernelSign = args.Flag("kernel");
  settings.append = args.Flag("append");
  settings.timestampProtocol =
      args.Flag("rfc3161") ? TimestampProtocol::Rfc3161 : TimestampProtocol::Authenticode;
  settings.adviseDoubleCertificate = false;
  settings.jobs = *jobs;
  SetPageHashes(args.Flag("page-hashes"));

  if (auto pfx = args.Value("pfx")) {
    session.ChoosePfx(*pfx);
  } else if (auto name = args.Value("store-cert")) {
    // Naming the certificate logs in to the token that holds it, once, before the run, and
    // names a refused PIN.
    std::shared_ptr<KeyStore> store = OpenKeyStore(args);
    try {
      session.ChooseStoreCertificate(IdentityOf(FindCertificate(*store, *name)));
    } catch (const std::exception& e) {
      std::cerr << command << ": "
                << (HasStatus(e, StatusCode::Undefined)
                        ? "no certificate of the store matches " + *name
                        : std::string(e.what()))
                << "\n";
      return kExitFailed;
    }
    session.SetKeyStore(store);
  }

  const std::vector<std::string> paths = AbsolutePaths(files);
  SignInteraction interaction(paths, args.Value("cross-cert"), texts);
  session.RunSign(paths, settings, interaction);
  if (interaction.refused()) return kExitFailed;
  interaction.PrintRows();
  return interaction.AllComplete() ? kExitOk : kExitFailed;
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
  if (auto error = ParseArguments(static_cast<int>(rest.size()), rest.data(), 2, {}, {}, args)) {
    std::cerr << "verify: " << *error << "\n";
    return kExitUsage;
  }
  if (args.operands.empty()) {
    std::cerr << "verify: name the files to verify (see --help)\n";
    return kExitUsage;
  }
  if (!trust.empty()) SetTrustLocations(trust);

  const SkinTexts& texts = MainTexts();
  UsageCounters counters;
  SigningSession session(Workers(), counters, texts);
  SignRunSettings settings;
  settings.verifyEveryFormat = true;
  const std::vector<std::string> paths = AbsolutePaths(args.operands);
  VerifyInteraction interaction(paths);
  session.RunVerify(paths, settings, interaction);
  interaction.Print();
  return interaction.AllComplete() ? kExitOk : kExitFailed;
}

}  // namespace corvane::cli
