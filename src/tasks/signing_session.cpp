#include "tasks/signing_session.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <system_error>
#include <thread>

#include "base/run_log.h"
#include "base/status.h"
#include "cert/chain_warning.h"
#include "crypto/trust_store.h"
#include "net/cloud_scan.h"
#include "sign/authenticode_verifier.h"
#include "sign/file_sign.h"
#include "sign/sign_type.h"
#include "sign/timestamp_client.h"
#include "tasks/task_texts.h"

namespace corvane {

PfxCheck CheckPfxInput(const std::string& path, const std::string& password,
                       std::optional<PfxStore>* imported) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return PfxCheck::Missing;
  try {
    PfxStore store = ImportPfx(path, password);
    if (imported) *imported = std::move(store);
  } catch (const std::exception&) {
    return PfxCheck::PasswordOrFileWrong;
  }
  return PfxCheck::Usable;
}

const char* PfxCheckMessageKey(PfxCheck check) {
  switch (check) {
    case PfxCheck::Missing:
      return "UiGloErrCertPathErr";
    case PfxCheck::PasswordOrFileWrong:
      return "UiGloErrPwdErrOrCertErr";
    case PfxCheck::Usable:
      break;
  }
  return "";
}

// One run: what it works on, what it was asked to do, and what it found out on the way.
struct SigningSession::Run {
  const std::vector<std::string>& paths;
  const SignRunSettings& settings;
  RunInteraction& interaction;
  NetworkChecks checks;
  CertManager manager;
  bool cloudReachable = false;
  std::string crossCertPath;
  // The hash the certificate's key was probed for, chosen by the run's first signer.
  std::optional<HashAlgorithm> hashChoice;
  // The key is on a token, whose session signs one file at a time.
  bool keyOnToken = false;
  // False when the worker's end tells the front end, once the busy flag is free again.
  bool announceEnd = true;
  // Files signed side by side report their rows one call at a time.
  std::mutex rowsMutex;

  void Message(const SkinTexts& texts, const char* key) { interaction.MessageSet(texts.Get(key)); }
  void SetTaskState(std::size_t row, RowState state, const std::string& text, bool pause) {
    {
      std::lock_guard lock(rowsMutex);
      interaction.RowChanged(row, state, text);
    }
    if (pause) std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
};

SigningSession::SigningSession(WorkerRegistry& workers, UsageCounters& counters,
                               const SkinTexts& texts)
    : workers_(workers), counters_(counters), texts_(texts) {}

SigningSession::~SigningSession() = default;

void SigningSession::ChoosePfx(const std::string& path) {
  std::lock_guard lock(mutex_);
  choice_ = {};
  choice_.pfxChosen = true;
  choice_.pfxPath = path;
  crossCertPath_.clear();
}

void SigningSession::ChooseStoreCertificate(const CertIdentity& identity) {
  std::lock_guard lock(mutex_);
  choice_ = {};
  choice_.storeChosen = true;
  choice_.storeIdentity = identity;
  crossCertPath_.clear();
}

CertificateChoice SigningSession::choice() const {
  std::lock_guard lock(mutex_);
  return choice_;
}

std::string SigningSession::crossCertPath() const {
  std::lock_guard lock(mutex_);
  return crossCertPath_;
}

void SigningSession::SetKeyStore(std::shared_ptr<KeyStore> store) {
  std::lock_guard lock(mutex_);
  store_ = std::move(store);
}

std::shared_ptr<KeyStore> SigningSession::keyStore() const {
  std::lock_guard lock(mutex_);
  return store_;
}

void SigningSession::SetIssuerDownloader(IssuerDownloader downloader) {
  std::lock_guard lock(mutex_);
  downloader_ = std::move(downloader);
}

void SigningSession::SetNetworkChecks(NetworkChecks checks) {
  std::lock_guard lock(mutex_);
  checks_ = std::move(checks);
}

bool SigningSession::LoadChosenCert(CertManager& manager, const SignRunSettings& settings,
                                    RunInteraction& interaction) {
  CertificateChoice chosen;
  std::shared_ptr<KeyStore> store;
  {
    std::lock_guard lock(mutex_);
    chosen = choice_;
    store = store_;
    if (downloader_) manager.SetIssuerDownloader(downloader_);
  }
  if (!chosen.pfxChosen && !chosen.storeChosen) {
    interaction.MessageSet(texts_.Get("UiGloErrSelCert"));
    return false;
  }
  if (chosen.pfxChosen) {
    std::optional<PfxStore> imported;
    if (PfxCheck check = CheckPfxInput(chosen.pfxPath, settings.password, &imported);
        check != PfxCheck::Usable) {
      interaction.MessageSet(texts_.Get(PfxCheckMessageKey(check)));
      return false;
    }
    manager.LoadPfx(chosen.pfxPath, settings.password, std::move(*imported));
    return true;
  }
  if (store) {
    // Only the token that holds the certificate is asked for its PIN.
    if (std::optional<std::size_t> token = store->FindTokenHolding(chosen.storeIdentity.issuerName,
                                                                   chosen.storeIdentity.serialHex))
      store->Login(*token, [&](const std::string& label) { return interaction.AskPin(label); });
    manager.SetCertStore(store);
  }
  manager.LoadFromStore(chosen.storeIdentity);
  return true;
}

bool SigningSession::CheckSignCert(Run& run) {
  if (!LoadChosenCert(run.manager, run.settings, run.interaction)) return false;
  run.keyOnToken = !run.manager.fromPfx();
  if (run.manager.IsExpired()) {
    run.Message(texts_, "UiGloErrCertOutOfDate");
    return false;
  }
  if (!run.manager.IsCodeSigning()) {
    run.Message(texts_, "UiGloErrTypeErr");
    return false;
  }
  run.manager.BuildChain();
  run.manager.RecognizeOwnCa();
  // Signatures that no verifier can follow to a trusted root are worth a word before the run.
  if (std::optional<std::string> warning = ChainWarningText(run.manager, texts_))
    run.interaction.ShowTip(*warning);
  bool advise = false;
  {
    std::lock_guard lock(mutex_);
    advise = !doubleCertTipShown_ && run.settings.adviseDoubleCertificate;
    if (advise) doubleCertTipShown_ = true;
  }
  if (advise) run.interaction.ShowTip(texts_.Get("UiDoubleCertTip"));
  return true;
}

bool SigningSession::CheckCrossCert(Run& run) {
  if (run.manager.ownCaIssued()) return true;
  const bool needed = run.settings.kernelSign || HasDriverInList(run.paths);
  if (!needed) return true;
  {
    std::lock_guard lock(mutex_);
    crossCertPath_.clear();
  }
  std::string chosen = run.interaction.ChooseCrossCert(run.manager.chain());
  std::error_code ec;
  if (chosen.empty() || !std::filesystem::exists(chosen, ec)) return false;
  run.crossCertPath = chosen;
  std::lock_guard lock(mutex_);
  crossCertPath_ = chosen;
  return true;
}

void SigningSession::CheckNetwork(Run& run) {
  run.cloudReachable = run.checks.isCloudReachable ? run.checks.isCloudReachable()
                                                   : IsCloudReachable(kScanTimeLimitSeconds);
  const bool timestampReachable =
      run.checks.isTimestampReachable ? run.checks.isTimestampReachable() : IsTimestampReachable();
  if (!timestampReachable) run.interaction.ShowTip(texts_.Get("TipMsgNotConn"));
}

void SigningSession::ExeVirusScan(Run& run, std::size_t row) {
  if (!run.cloudReachable) return;
  run.SetTaskState(row, RowState::Scanning, texts_.Get("UiTaskStateVirusScan"),
                   run.settings.visiblePauses);
  try {
    const std::string& path = run.paths[row];
    const bool clean = run.checks.isFileClean ? run.checks.isFileClean(path)
                                              : IsFileClean(path, kScanTimeLimitSeconds);
    if (!clean) RaiseStatus(StatusCode::FileIsVirus);
  } catch (const std::exception& e) {
    if (HasStatus(e, StatusCode::FileIsVirus)) throw;
    LogError("%s, %s", "CGuiWnd::ExeVirusScan", e.what());
  }
}

void SigningSession::ExeSignTaskLoop(Run& run) {
  signRunning_ = true;
  run.interaction.FileLoopEntered();
  const std::size_t jobs = run.keyOnToken ? 1 : std::max(1u, run.settings.jobs);
  std::size_t row = 0;
  // Until a signer has chosen the run's hash (probing the key once), one file at a time.
  for (; row < run.paths.size() && (jobs == 1 || !run.hashChoice); ++row) {
    if (workers_.stopRequested()) break;
    ExeSignTask(run, row, &run.hashChoice);
  }
  if (row < run.paths.size() && !workers_.stopRequested()) {
    std::atomic<std::size_t> next{row};
    auto signRows = [&] {
      // The choice is made; each signer reads its own copy of it.
      std::optional<HashAlgorithm> hashChoice = run.hashChoice;
      for (std::size_t mine = next++; mine < run.paths.size(); mine = next++) {
        if (workers_.stopRequested()) break;
        ExeSignTask(run, mine, &hashChoice);
      }
    };
    std::vector<std::jthread> helpers;
    const std::size_t wanted = std::min(jobs, run.paths.size() - row);
    try {
      for (std::size_t i = 1; i < wanted; ++i) helpers.emplace_back(signRows);
    } catch (const std::system_error&) {
      // Fewer threads than asked for: the ones there share the files.
    }
    signRows();
  }
  signRunning_ = false;
  run.interaction.FileLoopLeft();
}

void SigningSession::ExeSignTask(Run& run, std::size_t row,
                                 std::optional<HashAlgorithm>* hashChoice) {
  const std::string& path = run.paths[row];
  try {
    const std::string type = GetSignType(path);
    if (type == kUnsupportedType) RaiseStatus(StatusCode::FileTypeNotSupported);
    ExeVirusScan(run, row);
    std::unique_ptr<CFileSign> signer = CreateFileSigner(type);
    if (!signer) RaiseStatus(StatusCode::Undefined);
    const bool kernelMode = type == kPeKernelType || run.settings.kernelSign;
    signer->SetKernelMode(kernelMode);
    if (kernelMode && !run.crossCertPath.empty()) signer->SetCrossCertFile(run.crossCertPath);
    signer->SetCertManager(&run.manager);
    signer->ShareHashChoice(hashChoice);
    signer->SetTimestampProtocol(run.settings.timestampProtocol);
    run.SetTaskState(row, RowState::Signing, texts_.Get("UiTaskStateSign"),
                     run.settings.visiblePauses);
    signer->SignFile(path, path, run.settings.append);
    counters_.Add("signFile");
    const bool driverInGeneralMode = type == kPeKernelType && !run.settings.kernelSign;
    if (driverInGeneralMode)
      run.SetTaskState(row, RowState::CompleteKernelMode,
                       texts_.Get("UiTaskStateSignWithKernelMode"), false);
    else
      run.SetTaskState(row, RowState::Complete, texts_.Get("UiTaskStateComplete"), false);
  } catch (const std::exception& e) {
    run.SetTaskState(row, TaskErrorState(e), TaskErrorText(e, texts_), false);
    LogError("%s, %s, %s", "CGuiWnd::ExeSignTaskLoop", path.c_str(), e.what());
  }
}

void SigningSession::ExeVerifyTaskLoop(Run& run) {
  CPeFileSign signer;
  for (std::size_t row = 0; row < run.paths.size(); ++row) {
    if (workers_.stopRequested()) break;
    const std::string& path = run.paths[row];
    const std::string type = GetSignType(path);
    const bool verified = type == kPeType || type == kSignerSignType ||
                          (run.settings.verifyEveryFormat && IsSignable(path));
    if (verified) {
      VerifyReport report;
      try {
        signer.SetKernelMode(run.settings.kernelSign);
        report = signer.Verify(path);
      } catch (const std::exception&) {
        report = VerifyTrust(path);  // never raises; says why the file cannot be read
      }
      run.interaction.RowVerified(row, report);
      if (report.trusted)
        run.SetTaskState(row, RowState::Complete, texts_.Get("UiTaskStateComplete"), false);
      else
        run.SetTaskState(row, RowState::VerifyFailed, texts_.Get("UiPromptVerifyErr"), false);
    } else if (type == kUnsupportedType) {
      run.SetTaskState(row, RowState::NotSupported, texts_.Get("UiPromptFileTypeErr"), false);
    }
  }
}

void SigningSession::Frame(Run& run, bool sign) {
  run.interaction.RunStarted();
  try {
    for (std::size_t row = 0; row < run.paths.size(); ++row)
      run.SetTaskState(row, RowState::Waiting, texts_.Get("UiTaskStateWait"), false);
    if (!sign) {
      ExeVerifyTaskLoop(run);
    } else if (run.paths.empty()) {
      run.Message(texts_, "UiGloErrNoFile");
    } else if (CheckSignCert(run) && CheckCrossCert(run)) {
      CheckNetwork(run);
      ExeSignTaskLoop(run);
    }
  } catch (const std::exception& e) {
    if (std::optional<std::string> text = WorkerResultText(e, texts_)) {
      if (text->empty())
        run.interaction.MessageCleared();
      else
        run.interaction.MessageSet(*text);
    }
    LogError("%s", e.what());
  }
  if (run.announceEnd) run.interaction.RunEnded();
}

void SigningSession::RunSign(const std::vector<std::string>& paths, const SignRunSettings& settings,
                             RunInteraction& interaction) {
  SignRun(paths, settings, interaction, true);
}

void SigningSession::RunVerify(const std::vector<std::string>& paths,
                               const SignRunSettings& settings, RunInteraction& interaction) {
  VerifyRun(paths, settings, interaction, true);
}

void SigningSession::SignRun(const std::vector<std::string>& paths, const SignRunSettings& settings,
                             RunInteraction& interaction, bool announceEnd) {
  // The message line is cleared when sign is pressed, before anything else.
  interaction.MessageCleared();
  // The trust store's files are parsed on another core while the run loads its certificate;
  // the chain checks then find them parsed (trust stores keep what they parsed).
  std::future<void> trustFiles;
  try {
    trustFiles =
        std::async(std::launch::async, [] { static_cast<void>(BuildDefaultTrustStore()); });
  } catch (const std::system_error&) {
    // No thread to spare: they are parsed when first needed.
  }
  Run run{paths, settings, interaction, {}, {}, false, {}, {}};
  run.announceEnd = announceEnd;
  {
    std::lock_guard lock(mutex_);
    run.checks = checks_;
  }
  Frame(run, true);
}

void SigningSession::VerifyRun(const std::vector<std::string>& paths,
                               const SignRunSettings& settings, RunInteraction& interaction,
                               bool announceEnd) {
  if (paths.empty()) return;
  Run run{paths, settings, interaction, {}, {}, false, {}, {}};
  run.announceEnd = announceEnd;
  Frame(run, false);
}

bool SigningSession::StartSignRun(std::vector<std::string> paths, SignRunSettings settings,
                                  RunInteraction& interaction) {
  return workers_.Launch(
      WorkerKind::SignVerify,
      [this, paths = std::move(paths), settings = std::move(settings),
       &interaction](std::stop_token) { SignRun(paths, settings, interaction, false); },
      [&interaction] { interaction.RunEnded(); });
}

bool SigningSession::StartVerifyRun(std::vector<std::string> paths, SignRunSettings settings,
                                    RunInteraction& interaction) {
  // An empty list starts nothing.
  if (paths.empty()) return true;
  return workers_.Launch(
      WorkerKind::SignVerify,
      [this, paths = std::move(paths), settings = std::move(settings),
       &interaction](std::stop_token) { VerifyRun(paths, settings, interaction, false); },
      [&interaction] { interaction.RunEnded(); });
}

}  // namespace corvane
