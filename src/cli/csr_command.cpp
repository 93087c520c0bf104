// corvanecode-cli csr: an RSA key in a file and a PKCS #10 request for a code-signing, client
// or SSL certificate.
#include <iostream>

#include "cli/commands.h"
#include "cli/csr_options.h"

namespace corvane::cli {

int CsrCommand(int argc, char** argv) {
  Arguments args;
  CsrCommandOptions options;
  std::optional<std::string> error = ParseArguments(argc, argv, 2, CsrValueOptions(), {}, args);
  if (!error) error = CsrOptionsFromArguments(args, options);
  if (error) {
    std::cerr << "csr: " << *error << "\n";
    return kExitUsage;
  }
  CsrGenerateInput input{options.kind, options.fields, options.bits, options.keyOut};
  return FinishCsrCommand(options, GenerateOpenSsl(input));
}

}  // namespace corvane::cli
