#include "tasks/cert_tool_run.h"

#include <filesystem>

#include "base/run_log.h"
#include "crypto/cert_decode.h"

namespace corvane {
namespace {

// Pasted text shorter than this is no certificate at all.
constexpr std::size_t kMinimumPastedLength = 101;

UiMessage Place(std::vector<InstallItem>& plan, KeyStore* store, const InstallConfirm& confirm) {
  try {
    InstallCertificates(plan, store, confirm);
  } catch (const std::exception& e) {
    LogError("%s, %s", "CCertTool::InstallCert", e.what());
    return UiMessage::Red("UiInstallCertFailedReason");
  }
  return UiMessage::Green("");
}

}  // namespace

UiMessage InstallCert(const InstallCertInput& input, KeyStore* store, const InstallConfirm& confirm,
                      const UiProgress& progress) {
  std::vector<InstallItem> plan;
  if (input.pasteMode) {
    const std::string text = NormalizePastedText(input.pastedText);
    if (text.empty()) return UiMessage::Red("UiTaskStateCertContentIsNull");
    if (text.size() < kMinimumPastedLength)
      return UiMessage::Red("UiTaskStateCertContentIsInvalid");
    if (progress) progress(UiMessage::Green("UiCertTaskStateWait"));
    try {
      plan = PlanInstall(CertificatesFromInput(text, input.pkcs12Password), store);
    } catch (const std::exception&) {
      return UiMessage::Red("UiTaskStateCertContentIsInvalid");
    }
    return Place(plan, store, confirm);
  }
  if (input.certFile.empty()) return UiMessage::Red("UiCertPathIsNullOrInvalid");
  std::error_code ec;
  if (!std::filesystem::exists(input.certFile, ec)) return UiMessage::Red("UiGloErrCertPathErr");
  try {
    plan = PlanInstall(CertificatesFromInput(ReadWholeFile(input.certFile), input.pkcs12Password),
                       store);
  } catch (const std::exception&) {
    return UiMessage::Red("UiCertPathIsNullOrInvalid");
  }
  if (progress) progress(UiMessage::Green("UiCertTaskStateWait"));
  return Place(plan, store, confirm);
}

}  // namespace corvane
