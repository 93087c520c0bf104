#include "certtool/pfx_generate.h"

#include <filesystem>

#include "base/file_publish.h"
#include "base/run_log.h"
#include "certtool/cert_text.h"
#include "zorvat/cert_load.h"
#include "zorvat/pfx_make.h"

namespace corvane {
namespace {

bool IsFile(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

PfxGenerateResult Red(const char* key) { return {UiMessage::Red(key), false}; }

}  // namespace

PfxGenerateResult GeneratePfx(const PfxGenerateInput& input, const UiProgress& progress) {
  std::string certBytes;
  if (input.pasteMode) {
    if (input.certText.empty()) return Red("UiTaskStateCertContentIsNull");
    certBytes = NormalizeCertLineBreaks(input.certText);
    if (!ParseCertText(certBytes)) return Red("UiTaskStateCertContentIsInvalid");
  } else {
    if (input.certFile.empty()) return Red("UiCertPathIsNullOrInvalid");
    if (!IsFile(input.certFile)) return Red("UiGloErrCertPathErr");
  }
  if (input.keyFile.empty()) return Red("UiTaskStateFilePathIsEmpty");
  if (!IsFile(input.keyFile)) return Red("UiGloErrPvkPathErr");
  if (input.password != input.confirmation) return {UiMessage::Red("UiPasswordMatchFailed"), true};
  if (!input.pasteMode) {
    std::optional<std::string> bytes = zorvat::ReadFileBytes(input.certFile);
    if (!bytes || !zorvat::IsCert(zorvat::Source::Memory(*bytes)))
      return Red("UiCertPathIsNullOrInvalid");
    certBytes = std::move(*bytes);
  }
  if (progress) progress(UiMessage::Green("UiCertTaskStateWait"));

  std::string pfx;
  std::string errorText;
  if (!zorvat::MakePfx(pfx, input.password, zorvat::Source::Memory(certBytes), input.keyFile,
                       input.password, errorText)) {
    LogError("%s, %s", "CCertTool::GeneratePfx", errorText.c_str());
    return Red("UiTaskStateGeneratePFXFailed");
  }
  std::optional<std::string> outPath =
      input.chooseDestination ? input.chooseDestination() : std::nullopt;
  if (!outPath || outPath->empty()) return {UiMessage::Red(""), false};
  if (!PublishFile(*outPath, pfx, kPrivateFileMode)) return Red("UiTaskStateGeneratePFXFailed");
  return {UiMessage::Green("UiTaskStateGeneratePFXSuccess"), false};
}

}  // namespace corvane
