// corvanecode-cli pfx: joins an issued certificate and its private key into a PFX file.
#include <iostream>

#include "certtool/pfx_generate.h"
#include "cli/cli_options.h"
#include "cli/commands.h"
#include "cli/tool_output.h"

namespace corvane::cli {

int PfxCommand(int argc, char** argv) {
  Arguments args;
  std::optional<std::string> error = ParseArguments(
      argc, argv, 2,
      {"cert", "cert-text", "key", "out", "password", "password-file", "password-env"}, {}, args);
  if (!error && !args.operands.empty()) error = "unexpected argument " + args.operands.front();
  if (!error && args.Value("cert") && args.Value("cert-text"))
    error = "give either --cert or --cert-text";
  if (!error && !args.Value("out")) error = "--out FILE is needed";
  std::string passwordError;
  std::optional<std::string> password;
  if (!error) {
    password = ResolvePassword(args, passwordError);
    if (!password) error = passwordError;
  }
  if (error) {
    std::cerr << "pfx: " << *error << "\n";
    return kExitUsage;
  }
  PfxGenerateInput input;
  input.pasteMode = args.Value("cert-text").has_value();
  input.certText = args.Value("cert-text").value_or("");
  input.certFile = args.Value("cert").value_or("");
  input.keyFile = args.Value("key").value_or("");
  input.password = *password;
  input.confirmation = *password;
  const std::string out = *args.Value("out");
  input.chooseDestination = [out] { return std::optional<std::string>(out); };
  PfxGenerateResult result = GeneratePfx(input);
  PrintToolMessage(CertToolTexts(), result.message);
  return result.message.ok() ? kExitOk : kExitFailed;
}

}  // namespace corvane::cli
