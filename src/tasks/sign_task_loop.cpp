#include "tasks/sign_task_loop.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include "app/run_log.h"
#include "app/status.h"
#include "net/cloud_scan.h"
#include "sign/authenticode_verifier.h"
#include "sign/file_sign.h"
#include "sign/sign_type.h"
#include "sign/timestamp_client.h"
#include "tasks/task_texts.h"

namespace corvane {

SignTaskRunner::SignTaskRunner(CertManager& manager, const SkinTexts& texts, SignRunHooks hooks)
    : manager_(manager), texts_(texts), hooks_(std::move(hooks)) {}

void SignTaskRunner::Message(const std::string& key) {
  if (hooks_.message) hooks_.message(texts_.Get(key));
}

void SignTaskRunner::SetTaskState(std::vector<SignTask>& rows, std::size_t row,
                                  const std::string& text, bool pause) {
  rows[row].state = text;
  if (hooks_.rowChanged) hooks_.rowChanged(row);
  if (pause) std::this_thread::sleep_for(std::chrono::milliseconds(500));
}

void SignTaskRunner::SetTaskError(std::vector<SignTask>& rows, std::size_t row,
                                  const std::exception& failure) {
  rows[row].state = TaskErrorText(failure, texts_);
  if (hooks_.rowChanged) hooks_.rowChanged(row);
}

void SignTaskRunner::RunSign(std::vector<SignTask>& rows, const SignRunSettings& settings) {
  Frame(rows, settings, true);
}

void SignTaskRunner::RunVerify(std::vector<SignTask>& rows, const SignRunSettings& settings) {
  if (rows.empty()) return;
  Frame(rows, settings, false);
}

void SignTaskRunner::Frame(std::vector<SignTask>& rows, const SignRunSettings& settings,
                           bool sign) {
  // Marking the run busy and starting it are one step, so a second start is refused.
  bool expected = false;
  if (!busy_.compare_exchange_strong(expected, true)) return;
  try {
    for (std::size_t i = 0; i < rows.size(); ++i)
      SetTaskState(rows, i, texts_.Get("UiTaskStateWait"), false);
    if (sign) {
      if (rows.empty()) {
        Message("UiGloErrNoFile");
      } else if (CheckSignCert(settings) && CheckCrossCert(rows, settings)) {
        ExeSignTaskLoop(rows, settings);
      }
    } else {
      ExeVerifyTaskLoop(rows, settings);
    }
    RaiseSucceed();
  } catch (const std::exception& e) {
    if (std::optional<std::string> text = WorkerResultText(e, texts_); text && hooks_.message)
      hooks_.message(*text);
    if (IsFailure(e)) LogError("%s", e.what());
  }
  busy_ = false;
}

bool SignTaskRunner::CheckPfxInput(const std::string& path, const std::string& password) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    Message("UiGloErrCertPathErr");
    return false;
  }
  if (!CertManager::CheckPfxPassword(path, password)) {
    Message("UiGloErrPwdErrOrCertErr");
    return false;
  }
  return true;
}

bool SignTaskRunner::CheckSignCert(const SignRunSettings& settings) {
  const CertificateChoice& choice = settings.certificate;
  if (!choice.pfxChosen && !choice.storeChosen) {
    Message("UiGloErrSelCert");
    return false;
  }
  if (choice.pfxChosen) {
    if (!CheckPfxInput(choice.pfxPath, choice.password)) return false;
    manager_.LoadPfx(choice.pfxPath, choice.password);
  } else {
    manager_.LoadFromStore(choice.storeIdentity);
  }
  if (manager_.IsExpired()) {
    Message("UiGloErrCertOutOfDate");
    return false;
  }
  if (!manager_.IsCodeSigning()) {
    Message("UiGloErrTypeErr");
    return false;
  }
  manager_.BuildChain();
  manager_.RecognizeOwnCa();
  if (!doubleCertTipShown_ && settings.adviseDoubleCertificate) {
    if (hooks_.showTip) hooks_.showTip(texts_.Get("UiDoubleCertTip"));
    doubleCertTipShown_ = true;
  }
  return true;
}

bool SignTaskRunner::CheckCrossCert(const std::vector<SignTask>& rows,
                                    const SignRunSettings& settings) {
  if (manager_.ownCaIssued()) return true;
  std::vector<std::string> paths;
  for (const SignTask& row : rows) paths.push_back(row.path);
  bool needed = settings.kernelSign || HasDriverInList(paths);
  if (!needed) return true;
  crossCertPath_.clear();
  if (hooks_.chooseCrossCert) crossCertPath_ = hooks_.chooseCrossCert(manager_.chain());
  std::error_code ec;
  return !crossCertPath_.empty() && std::filesystem::exists(crossCertPath_, ec);
}

void SignTaskRunner::CheckNetwork() {
  cloudReachable_ =
      hooks_.isCloudReachable ? hooks_.isCloudReachable() : IsCloudReachable(kScanTimeLimitSeconds);
  bool timestampReachable =
      hooks_.isTimestampReachable ? hooks_.isTimestampReachable() : IsTimestampReachable();
  if (!timestampReachable && hooks_.showTip) hooks_.showTip(texts_.Get("TipMsgNotConn"));
}

void SignTaskRunner::ExeVirusScan(std::vector<SignTask>& rows, std::size_t row,
                                  const SignRunSettings& settings) {
  if (!cloudReachable_) return;
  SetTaskState(rows, row, texts_.Get("UiTaskStateVirusScan"), settings.visiblePauses);
  try {
    const std::string& path = rows[row].path;
    const bool clean =
        hooks_.isFileClean ? hooks_.isFileClean(path) : IsFileClean(path, kScanTimeLimitSeconds);
    if (!clean) RaiseStatus(StatusCode::FileIsVirus);
  } catch (const std::exception& e) {
    if (HasStatus(e, StatusCode::FileIsVirus)) throw ExceptionEx(e.what());
    LogError("%s, %s", "CGuiWnd::ExeVirusScan", e.what());
  }
}

void SignTaskRunner::ExeSignTaskLoop(std::vector<SignTask>& rows, const SignRunSettings& settings) {
  CheckNetwork();
  for (std::size_t row = 0; row < rows.size(); ++row) {
    if (stopRequested_) break;
    std::unique_ptr<CFileSign> signer;
    try {
      const std::string type = GetSignType(rows[row].path);
      if (type == kUnsupportedType) RaiseStatus(StatusCode::FileTypeNotSupported);
      ExeVirusScan(rows, row, settings);
      signer = CreateFileSigner(type);
      if (!signer) RaiseStatus(StatusCode::Undefined);
      bool kernelMode = type == kPeKernelType || settings.kernelSign;
      signer->SetKernelMode(kernelMode);
      if (kernelMode && !crossCertPath_.empty()) signer->SetCrossCertFile(crossCertPath_);
      signer->SetCertManager(&manager_);
      signer->SetTimestampProtocol(settings.timestampProtocol);
      SetTaskState(rows, row, texts_.Get("UiTaskStateSign"), settings.visiblePauses);
      signer->SignFile(rows[row].path, rows[row].path, settings.append);
      ++signFileCount_;
      bool driverInGeneralMode = type == kPeKernelType && !settings.kernelSign;
      SetTaskState(
          rows, row,
          texts_.Get(driverInGeneralMode ? "UiTaskStateSignWithKernelMode" : "UiTaskStateComplete"),
          false);
    } catch (const std::exception& e) {
      SetTaskError(rows, row, e);
      LogError("%s, %s, %s", "CGuiWnd::ExeSignTaskLoop", rows[row].path.c_str(), e.what());
    }
  }
}

void SignTaskRunner::ExeVerifyTaskLoop(std::vector<SignTask>& rows,
                                       const SignRunSettings& settings) {
  CPeFileSign signer;
  for (std::size_t row = 0; row < rows.size(); ++row) {
    if (stopRequested_) break;
    const std::string type = GetSignType(rows[row].path);
    bool verified = type == kPeType || type == kSignerSignType ||
                    (settings.verifyEveryFormat && IsSignable(rows[row].path));
    if (verified) {
      bool trusted = false;
      try {
        signer.SetKernelMode(settings.kernelSign);
        trusted = signer.VerifyFile(rows[row].path);
      } catch (const std::exception&) {
      }
      SetTaskState(rows, row, texts_.Get(trusted ? "UiTaskStateComplete" : "UiPromptVerifyErr"),
                   false);
    } else if (type == kUnsupportedType) {
      SetTaskState(rows, row, texts_.Get("UiPromptFileTypeErr"), false);
    }
  }
}

}  // namespace corvane
