// The signing tab's runs, free of any window: the state a front end keeps between runs (the
// certificate choice, the kernel cross-certificate of the last kernel run, the advice shown
// once per start) and the sign and verify runs over a list of paths.
//
// A run is an interactive prepare step (certificate checks, the double-certificate advice,
// the cross-certificate need and choice, the network check, the token login) followed by a
// file loop that asks nothing. Each run loads its own copy of the certificate, so showing the
// chosen certificate while a run signs is safe.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/language.h"
#include "base/worker_registry.h"
#include "cert/cert_identity.h"
#include "cert/cert_manager.h"
#include "cert/key_store.h"
#include "net/usage_reporters.h"
#include "sign/signature_creation.h"
#include "tasks/run_interaction.h"

namespace corvane {

// Which certificate the user picked last; at most one source is chosen.
struct CertificateChoice {
  bool pfxChosen = false;
  std::string pfxPath;
  bool storeChosen = false;
  CertIdentity storeIdentity;
};

struct SignRunSettings {
  std::string password;        // the PFX password as typed when the run starts
  bool kernelSign = false;     // "Kernel Sign"; otherwise "General Sign"
  bool append = false;         // "Append Signature"
  bool visiblePauses = false;  // hold "Virus Scanning..." and "Signing..." for 500 ms each
  TimestampProtocol timestampProtocol = TimestampProtocol::Authenticode;
  bool adviseDoubleCertificate = true;  // the once-per-start advice before the first run
  bool verifyEveryFormat = false;       // verify drivers, cabinets... too (the command line)
  // How many files are signed at once (the command line's --jobs). Rows still change in the
  // order of each file's own steps; different files' changes interleave and may come from
  // several threads, one call at a time. A key on a token signs one file at a time.
  unsigned jobs = 1;
};

// The network checks of a run; empty members ask the configured services.
struct NetworkChecks {
  std::function<bool()> isCloudReachable;
  std::function<bool(const std::string& path)> isFileClean;  // raises when the scan fails
  std::function<bool()> isTimestampReachable;                // both timestamp URLs answer
};

// The outcome of a PFX's checks before it is used (the signing run's and cert-info's).
enum class PfxCheck { Usable, Missing, PasswordOrFileWrong };
// A usable file is handed back through `imported`, so that it is read only once.
PfxCheck CheckPfxInput(const std::string& path, const std::string& password,
                       std::optional<PfxStore>* imported = nullptr);
// The language key of the message a refused PFX shows.
const char* PfxCheckMessageKey(PfxCheck check);

class SigningSession {
 public:
  SigningSession(WorkerRegistry& workers, UsageCounters& counters, const SkinTexts& texts);
  ~SigningSession();

  // Choosing any certificate forgets the cross-certificate of an earlier kernel run.
  void ChoosePfx(const std::string& path);
  void ChooseStoreCertificate(const CertIdentity& identity);
  CertificateChoice choice() const;
  std::string crossCertPath() const;

  // The tokens store certificates are found on; without one no store certificate is found.
  void SetKeyStore(std::shared_ptr<KeyStore> store);
  std::shared_ptr<KeyStore> keyStore() const;
  // How chains are completed from the network in later runs (the default downloads).
  void SetIssuerDownloader(IssuerDownloader downloader);
  void SetNetworkChecks(NetworkChecks checks);

  // The chosen certificate loaded into `manager`, as a run loads it: false with the refusal's
  // message sent (a missing choice, a missing or refused PFX). A token is logged in through
  // `interaction`'s PIN prompt; a failure of the source itself is raised.
  bool LoadChosenCert(CertManager& manager, const SignRunSettings& settings,
                      RunInteraction& interaction);

  // A whole run on the calling thread. Every outcome is reported through `interaction` and
  // the run log; nothing is raised. The caller holds the sign/verify busy flag (StartSignRun
  // and StartVerifyRun do).
  void RunSign(const std::vector<std::string>& paths, const SignRunSettings& settings,
               RunInteraction& interaction);
  void RunVerify(const std::vector<std::string>& paths, const SignRunSettings& settings,
                 RunInteraction& interaction);

  // The same on a worker of its own under the sign/verify busy flag; false (and nothing runs)
  // when a sign or verify run holds it. `interaction` must outlive the worker. RunEnded comes
  // once the flag is free again, so the front end may start the next run at once.
  bool StartSignRun(std::vector<std::string> paths, SignRunSettings settings,
                    RunInteraction& interaction);
  bool StartVerifyRun(std::vector<std::string> paths, SignRunSettings settings,
                      RunInteraction& interaction);

  // True while a signing run is inside its file loop (the usage reporter waits then).
  bool signRunning() const { return signRunning_; }

 private:
  struct Run;
  void SignRun(const std::vector<std::string>& paths, const SignRunSettings& settings,
               RunInteraction& interaction, bool announceEnd);
  void VerifyRun(const std::vector<std::string>& paths, const SignRunSettings& settings,
                 RunInteraction& interaction, bool announceEnd);
  bool CheckSignCert(Run& run);
  bool CheckCrossCert(Run& run);
  void CheckNetwork(Run& run);
  void ExeSignTaskLoop(Run& run);
  void ExeSignTask(Run& run, std::size_t row, std::optional<HashAlgorithm>* hashChoice);
  void ExeVirusScan(Run& run, std::size_t row);
  void ExeVerifyTaskLoop(Run& run);
  void Frame(Run& run, bool sign);

  WorkerRegistry& workers_;
  UsageCounters& counters_;
  const SkinTexts& texts_;
  mutable std::mutex mutex_;  // guards the members below
  CertificateChoice choice_;
  std::string crossCertPath_;
  bool doubleCertTipShown_ = false;
  std::shared_ptr<KeyStore> store_;
  IssuerDownloader downloader_;
  NetworkChecks checks_;
  std::atomic<bool> signRunning_{false};
};

}  // namespace corvane
