#include "certtool/spc_generate.h"

#include <strings.h>

#include <filesystem>
#include <optional>

#include "base/file_publish.h"
#include "base/run_log.h"
#include "base/utf8.h"
#include "certtool/cert_text.h"
#include "zorvat/cert_chain.h"
#include "zorvat/cert_load.h"

namespace corvane {
namespace {

constexpr const char* kUpperInvalid[kMaxUpperCerts] = {"UiTaskStateUpperCert1ContentIsInvalid",
                                                       "UiTaskStateUpperCert2ContentIsInvalid",
                                                       "UiTaskStateUpperCert3ContentIsInvalid"};
constexpr const char* kUpperMissing[kMaxUpperCerts] = {
    "UiGloErrUp1CertPathErr", "UiGloErrUp2CertPathErr", "UiGloErrUp3CertPathErr"};

bool IsFile(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

}  // namespace

bool CollectUpperCerts(const zorvat::Source& user, bool pasteMode,
                       const std::array<std::string, kMaxUpperCerts>& upperFiles,
                       std::vector<std::string>& upperList, UiMessage& failure) {
  upperList.clear();
  std::string errorText;
  if (!zorvat::LoadCert(user, "", errorText)) {
    failure = UiMessage::Red(pasteMode ? "UiTaskStateUserCertContentIsInvalid"
                                       : "UiUserCertPathIsNullOrInvalid");
    return false;
  }
  std::vector<std::string> earlier;  // contents of the upper certificates read so far
  for (std::size_t i = 0; i < upperFiles.size(); ++i) {
    if (upperFiles[i].empty()) continue;
    std::string bytes = zorvat::ReadFileBytes(upperFiles[i]).value_or(std::string());
    zorvat::Source upper = zorvat::Source::Memory(bytes);
    bool bothLoaded = false;
    bool duplicate = zorvat::SameSerial(user, upper, bothLoaded);
    if (!bothLoaded) {
      failure = UiMessage::Red(kUpperInvalid[i]);
      return false;
    }
    for (const std::string& previous : earlier) {
      bool loaded = false;
      if (!duplicate)
        duplicate = zorvat::SameSerial(zorvat::Source::Memory(previous), upper, loaded);
    }
    if (!duplicate) upperList.push_back(upperFiles[i]);
    earlier.push_back(std::move(bytes));
  }
  return true;
}

UiMessage GenerateSpc(const SpcGenerateInput& input, const UiProgress& progress) {
  std::string userBytes;
  if (input.pasteMode) {
    std::string text(TrimBlanks(input.userText));
    if (text.empty()) return UiMessage::Red("UiTaskStateUserCertContentIsNull");
    userBytes = NormalizeCertLineBreaks(text);
    if (!ParseCertText(userBytes)) return UiMessage::Red("UiTaskStateUserCertContentIsInvalid");
  } else {
    if (input.userFile.empty()) return UiMessage::Red("UiUserCertPathIsNullOrInvalid");
    if (!IsFile(input.userFile)) return UiMessage::Red("UiGloErrUserCertPathErr");
    std::optional<std::string> bytes = zorvat::ReadFileBytes(input.userFile);
    if (!bytes) return UiMessage::Red("UiUserCertPathIsNullOrInvalid");
    userBytes = std::move(*bytes);
  }
  if (progress) progress(UiMessage::Green("UiCertTaskStateWait"));
  for (std::size_t i = 0; i < input.upperFiles.size(); ++i)
    if (!input.upperFiles[i].empty() && !IsFile(input.upperFiles[i]))
      return UiMessage::Red(kUpperMissing[i]);

  zorvat::Source user = zorvat::Source::Memory(userBytes);
  std::vector<std::string> upperList;
  UiMessage failure;
  if (!CollectUpperCerts(user, input.pasteMode, input.upperFiles, upperList, failure))
    return failure;

  std::string pem;
  std::string errorText;
  if (!zorvat::MakeCertChain(upperList, user, pem, errorText)) {
    LogError("%s, %s", "CCertTool::GenerateSpc", errorText.c_str());
    return UiMessage::Red(strcasecmp(errorText.c_str(), "unable to load certificate\n") == 0
                              ? "UiTaskStateCertContentIsInvalid"
                              : "UiGenerateCertChainFailed");
  }
  std::optional<std::string> outPath =
      input.chooseDestination ? input.chooseDestination() : std::nullopt;
  if (!outPath || outPath->empty()) return UiMessage::Red("");
  pem.push_back('\0');
  if (!PublishFile(*outPath, pem, kPublicFileMode))
    return UiMessage::Red("UiGenerateCertChainFailed");
  return UiMessage::Green("UiGenerateCertChainSuccess");
}

}  // namespace corvane
