#include "csr/csr_generate.h"

#include "base/file_publish.h"
#include "base/run_log.h"
#include "zorvat/cert_req_make.h"

namespace corvane {

int ParseKeyLength(const std::string& text) {
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    if (value > 1000000) break;  // far beyond any offered length
  }
  return static_cast<int>(value);
}

CsrGenerateResult MakeRequestForFields(CsrKind kind, const CsrFields& fields, EVP_PKEY* key) {
  std::string subject;
  if (!BuildSubject(kind, fields, false, subject))
    return {UiMessage::Red("UiTaskStateEmailAddressIsIllegal"), {}};
  CsrGenerateResult result;
  std::string errorText;
  if (!zorvat::MakeCertReqWithKey(SubjectEntriesFor(kind, fields), key, result.requestPem,
                                  errorText)) {
    LogError("%s, %s", "CCSRTool::GenerateOpenSsl", errorText.c_str());
    return {UiMessage::Red("UiTaskStateGenerateCSRFailed"), {}};
  }
  result.message = UiMessage::Green("UiCSRTaskStateComplete");
  return result;
}

CsrGenerateResult GenerateOpenSsl(const CsrGenerateInput& input) {
  if (ParseKeyLength(input.keyLength) < 2048)
    return {UiMessage::Red("UiTaskStateKeyLengthIsShort"), {}};
  if (input.keyFile.empty()) return {UiMessage::Red("UiTaskStateFilePathIsEmpty"), {}};
  std::string subject;
  if (!BuildSubject(input.kind, input.fields, false, subject))
    return {UiMessage::Red("UiTaskStateEmailAddressIsIllegal"), {}};

  EvpPkeyPtr key = zorvat::GenerateRsaKey(ParseKeyLength(input.keyLength));
  if (!key) return {UiMessage::Red("UiTaskStateGenerateCSRFailed"), {}};
  CsrGenerateResult result = MakeRequestForFields(input.kind, input.fields, key.get());
  if (!result.message.ok()) return result;
  std::string keyPem;
  std::string errorText;
  if (!zorvat::PrivateKeyPem(key.get(), keyPem, errorText)) {
    LogError("%s, %s", "CCSRTool::GenerateOpenSsl", errorText.c_str());
    return {UiMessage::Red("UiTaskStateGenerateCSRFailed"), {}};
  }
  bool written = PublishFile(input.keyFile, keyPem, kPrivateFileMode);
  OPENSSL_cleanse(keyPem.data(), keyPem.size());
  if (!written) {
    LogError("%s, %s", "CCSRTool::GenerateOpenSsl", "the private key file cannot be written");
    return {UiMessage::Red("UiTaskStateGenerateCSRFailed"), {}};
  }
  return result;
}

CsrGenerationOutcome CheckGenerated(CsrGenerateResult generated, const SkinTexts& texts) {
  CsrGenerationOutcome outcome;
  outcome.generated = std::move(generated);
  outcome.message = outcome.generated.message;
  if (!outcome.generated.message.ok()) return outcome;
  outcome.check = CheckCsr(outcome.generated.requestPem, texts);
  outcome.message = outcome.check.message;
  if (outcome.check.shown) outcome.message = UiMessage::Green("UiCSRTaskStateComplete");
  return outcome;
}

CsrGenerationOutcome RunCsrGeneration(const CsrGenerateInput& input, const SkinTexts& texts,
                                      const UiProgress& progress) {
  if (progress) progress(UiMessage::Green("UiCSRTaskStateWait"));
  return CheckGenerated(GenerateOpenSsl(input), texts);
}

}  // namespace corvane
