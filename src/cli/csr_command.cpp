// corvanecode-cli csr: an RSA key in a file and a PKCS #10 request for a code-signing, client
// or SSL certificate.
#include <iostream>

#include "cli/commands.h"
#include "cli/csr_options.h"
#include "cli/key_store_options.h"
#include "csr/csr_subject.h"
#include "csr/key_store_csr.h"

namespace corvane::cli {
namespace {

// The key pair is made on the token and the request signed there; no key file is written.
int KeyStoreCsr(const Arguments& args, const std::string& token, const CsrCommandOptions& options) {
  std::shared_ptr<KeyStore> store = OpenKeyStore(args);
  KeyStoreRequest r =
      GenerateKeyStore(*store, token, options.bits, options.kind, options.fields, nullptr);
  CsrGenerateResult generated = ToGenerateResult(r);
  if (r.produced) generated.requestPem += "\r\n";
  return FinishCsrCommand(options, std::move(generated));
}

}  // namespace

int CsrCommand(int argc, char** argv) {
  Arguments args;
  CsrCommandOptions options;
  std::optional<std::string> error = ParseArguments(argc, argv, 2, CsrValueOptions(), {}, args);
  if (!error) error = CsrOptionsFromArguments(args, options);
  if (!error && args.Value("key-store") && args.Value("key-out"))
    error = "--key-out has no use with --key-store: the key stays on the token";
  if (error) {
    std::cerr << "csr: " << *error << "\n";
    return kExitUsage;
  }
  if (auto token = args.Value("key-store")) return KeyStoreCsr(args, *token, options);
  CsrGenerateInput input{options.kind, options.fields, options.bits, options.keyOut};
  return FinishCsrCommand(options, GenerateOpenSsl(input));
}

}  // namespace corvane::cli
