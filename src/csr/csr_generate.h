// Generating a key and its certificate request in OpenSSL mode: the CSR tab's generate step,
// free of any window. The outcome is the status-line message the tab shows.
#pragma once

#include <string>

#include "base/language.h"
#include "base/ui_message.h"
#include "csr/csr_check.h"
#include "csr/csr_subject.h"

namespace corvane {

struct CsrGenerateInput {
  CsrKind kind = CsrKind::CodeSigning;
  CsrFields fields;
  std::string keyLength;  // as chosen in the key-length list: "2048", "4096"
  std::string keyFile;    // where the private key is written
};

struct CsrGenerateResult {
  UiMessage message;
  std::string requestPem;  // for the request box, on success
};

// The key length the text asks for: its leading decimal digits, 0 when there are none.
int ParseKeyLength(const std::string& text);

// The request for the kind's fields signed by `key`, wherever the key is held. Refuses a bad
// e-mail address (UiTaskStateEmailAddressIsIllegal) and failures to build
// (UiTaskStateGenerateCSRFailed); on success the message is UiCSRTaskStateComplete.
CsrGenerateResult MakeRequestForFields(CsrKind kind, const CsrFields& fields, EVP_PKEY* key);

// GenerateOpenSsl: checks the input, makes an RSA key and the request, and writes the key,
// unencrypted PKCS #8 PEM, to the key file with owner-only permissions. A key file that cannot
// be written fails the generation (the request is not handed out without its key).
CsrGenerateResult GenerateOpenSsl(const CsrGenerateInput& input);

// The generation worker: GenerateOpenSsl, then the request check of the new request; both
// succeeded: UiCSRTaskStateComplete in green.
struct CsrGenerationOutcome {
  CsrGenerateResult generated;
  CsrCheckResult check;
  UiMessage message;  // what stays on the status line
};
CsrGenerationOutcome RunCsrGeneration(const CsrGenerateInput& input, const SkinTexts& texts,
                                      const UiProgress& progress = {});

// The worker's second half, for a request made by any generator: checks it when it was made.
CsrGenerationOutcome CheckGenerated(CsrGenerateResult generated, const SkinTexts& texts);

}  // namespace corvane
