// The signing and verification runs over a list of files, independent of any window: the
// checks before a run (certificate, kernel cross-certificate, network), then each file in
// list order through the virus scan and its signer, each row ending in its state text. The
// window and the command line drive the same runner and show what its hooks report.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/language.h"
#include "cert/cert_identity.h"
#include "cert/cert_manager.h"
#include "sign/signature_creation.h"

namespace corvane {

struct SignTask {
  std::string path;
  std::string state;
};

struct CertificateChoice {
  bool pfxChosen = false;
  std::string pfxPath;
  std::string password;
  bool storeChosen = false;
  CertIdentity storeIdentity;
};

struct SignRunSettings {
  CertificateChoice certificate;
  bool kernelSign = false;     // "Kernel Sign"; otherwise "General Sign"
  bool append = false;         // "Append Signature"
  bool visiblePauses = false;  // hold "Virus Scanning..." and "Signing..." for 500 ms each
  TimestampProtocol timestampProtocol = TimestampProtocol::Authenticode;
  bool adviseDoubleCertificate = true;  // the once-per-start advice before the first run
  bool verifyEveryFormat = false;       // verify drivers, cabinets... too (the command line)
};

struct SignRunHooks {
  std::function<void(std::size_t row)> rowChanged;
  // The message line: a language text, shown in red.
  std::function<void(const std::string& text)> message;
  // A modal prompt; the run waits until it returns.
  std::function<void(const std::string& text)> showTip;
  // The kernel cross-certificate choice; returns the accepted path, empty when none.
  std::function<std::string(const ChainList& chain)> chooseCrossCert;
  // The cloud file-reputation service; without hooks the service of ScanUrl() is asked
  // (IsCloudReachable and IsFileClean with the scan time limit).
  std::function<bool()> isCloudReachable;
  std::function<bool(const std::string& path)> isFileClean;  // raises when the scan fails
  std::function<bool()> isTimestampReachable;                // default: both timestamp URLs
};

class SignTaskRunner {
 public:
  SignTaskRunner(CertManager& manager, const SkinTexts& texts, SignRunHooks hooks);

  // One whole run on the calling thread, as the worker runs it; every outcome is reported
  // through the hooks and the run log, nothing is raised.
  void RunSign(std::vector<SignTask>& rows, const SignRunSettings& settings);
  void RunVerify(std::vector<SignTask>& rows, const SignRunSettings& settings);

  // Set once to end a run before its next file.
  void RequestStop() { stopRequested_ = true; }
  bool stopRequested() const { return stopRequested_; }
  bool busy() const { return busy_; }

  // Files signed since the counter was last taken (the "signFile" usage counter).
  std::uint32_t TakeSignFileCount() { return signFileCount_.exchange(0); }
  std::uint32_t signFileCount() const { return signFileCount_; }
  const std::string& crossCertPath() const { return crossCertPath_; }

 private:
  void Frame(std::vector<SignTask>& rows, const SignRunSettings& settings, bool sign);
  bool CheckSignCert(const SignRunSettings& settings);
  bool CheckPfxInput(const std::string& path, const std::string& password);
  bool CheckCrossCert(const std::vector<SignTask>& rows, const SignRunSettings& settings);
  void CheckNetwork();
  void ExeSignTaskLoop(std::vector<SignTask>& rows, const SignRunSettings& settings);
  void ExeVirusScan(std::vector<SignTask>& rows, std::size_t row, const SignRunSettings& settings);
  void ExeVerifyTaskLoop(std::vector<SignTask>& rows, const SignRunSettings& settings);
  void SetTaskState(std::vector<SignTask>& rows, std::size_t row, const std::string& text,
                    bool pause);
  void SetTaskError(std::vector<SignTask>& rows, std::size_t row, const std::exception& failure);
  void Message(const std::string& key);

  CertManager& manager_;
  const SkinTexts& texts_;
  SignRunHooks hooks_;
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> busy_{false};
  std::atomic<std::uint32_t> signFileCount_{0};
  bool cloudReachable_ = false;
  bool doubleCertTipShown_ = false;
  std::string crossCertPath_;
};

}  // namespace corvane
