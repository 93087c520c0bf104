#include "cli/csr_options.h"

#include <iostream>

#include "base/file_publish.h"
#include "cli/tool_output.h"
#include "csr/country_list.h"

namespace corvane::cli {
namespace {

struct FieldOption {
  const char* name;
  CsrKind kind;
  std::string CsrFields::*field;
};

const FieldOption kFieldOptions[] = {
    {"publisher", CsrKind::CodeSigning, &CsrFields::publisherName},
    {"unit", CsrKind::CodeSigning, &CsrFields::unitName1},
    {"common-name", CsrKind::Client, &CsrFields::commonName},
    {"email", CsrKind::Client, &CsrFields::email},
    {"domain", CsrKind::Ssl, &CsrFields::domainName},
    {"unit", CsrKind::Ssl, &CsrFields::unitName2},
    {"country", CsrKind::Ssl, &CsrFields::countryCode},
};

}  // namespace

std::vector<std::string> CsrValueOptions() {
  return {"kind",  "key-out", "bits",    "out",       "publisher",     "unit", "common-name",
          "email", "domain",  "country", "key-store", "pkcs11-module", "pin"};
}

std::optional<std::string> CsrOptionsFromArguments(const Arguments& args,
                                                   CsrCommandOptions& options) {
  if (!args.operands.empty()) return "unexpected argument " + args.operands.front();
  std::string kind = args.Value("kind").value_or("code");
  if (kind == "code")
    options.kind = CsrKind::CodeSigning;
  else if (kind == "client")
    options.kind = CsrKind::Client;
  else if (kind == "ssl")
    options.kind = CsrKind::Ssl;
  else
    return "--kind must be code, client or ssl";

  for (const char* name : {"publisher", "unit", "common-name", "email", "domain", "country"}) {
    std::optional<std::string> value = args.Value(name);
    if (!value) continue;
    bool applies = false;
    for (const FieldOption& option : kFieldOptions) {
      if (std::string(option.name) != name || option.kind != options.kind) continue;
      options.fields.*option.field = *value;
      applies = true;
    }
    if (!applies) return "--" + std::string(name) + " does not apply to --kind " + kind;
  }
  if (options.kind == CsrKind::Ssl) {
    std::string& code = options.fields.countryCode;
    if (!args.Value("country")) code = kCountries[kDefaultCountryIndex].code;
    CodeTyping typed = OnCodeTyped(code);
    if (code.size() != 2 || !typed.select) return "--country must be a listed two-letter code";
    code = kCountries[*typed.select].code;
  }

  options.bits = args.Value("bits").value_or("");
  int bits = ParseKeyLength(options.bits);
  if (bits >= 2048 && bits != 2048 && bits != 4096) return "--bits must be 2048 or 4096";
  options.keyOut = args.Value("key-out").value_or("");
  options.out = args.Value("out").value_or("");
  if (options.out.empty()) return "--out FILE is needed for the request";
  return std::nullopt;
}

int FinishCsrCommand(const CsrCommandOptions& options, CsrGenerateResult generated) {
  const SkinTexts& texts = CsrToolTexts();
  CsrGenerationOutcome outcome = CheckGenerated(std::move(generated), texts);
  if (!outcome.generated.message.ok()) {
    PrintToolMessage(texts, outcome.message);
    return kExitFailed;
  }
  if (!PublishFile(options.out, outcome.generated.requestPem, kPublicFileMode)) {
    std::cerr << "csr: cannot write " << options.out << "\n";
    PrintToolMessage(texts, UiMessage::Red("UiTaskStateGenerateCSRFailed"));
    return kExitFailed;
  }
  PrintResultText(outcome.check.resultText);
  PrintToolMessage(texts, outcome.message);
  return outcome.message.ok() ? kExitOk : kExitFailed;
}

}  // namespace corvane::cli
