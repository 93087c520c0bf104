// The options of "csr": the kind of certificate, its fields, the key length and the output
// files. Kept apart from the command so that other key holders can share them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "csr/csr_generate.h"

namespace corvane::cli {

struct CsrCommandOptions {
  CsrKind kind = CsrKind::CodeSigning;
  CsrFields fields;
  std::string bits;    // as given to --bits
  std::string keyOut;  // --key-out
  std::string out;     // --out: where the request goes
};

// The value options "csr" knows: --kind, --key-out, --bits, --out and the fields.
std::vector<std::string> CsrValueOptions();

// Fills `options` from parsed arguments; a usage error comes back as text. A field of another
// kind, an unknown kind, a key length other than 2048 or 4096 (below 2048 is left to the
// generation's own message) or an unknown country code is a usage error. The country defaults
// to CN, as the tab preselects China.
std::optional<std::string> CsrOptionsFromArguments(const Arguments& args,
                                                   CsrCommandOptions& options);

// Checks a generated request as the tab's worker does, writes it to options.out and prints
// the check result and the status text. The exit status.
int FinishCsrCommand(const CsrCommandOptions& options, CsrGenerateResult generated);

}  // namespace corvane::cli
