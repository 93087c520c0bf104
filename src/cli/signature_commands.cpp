// corvanecode-cli extract-signature, attach-signature, remove-signature: a signature read out
// of a file, placed into another whose digest it carries, or taken out.
#include <iostream>

#include "base/file_publish.h"
#include "cli/cli_options.h"
#include "cli/commands.h"
#include "crypto/cert_decode.h"
#include "sign/detached_signature.h"

namespace corvane::cli {
namespace {

int Refused(const char* command, const std::string& file, const std::string& why) {
  std::cerr << command << ": " << file << ": " << why << "\n";
  return kExitFailed;
}

}  // namespace

int ExtractSignatureCommand(int argc, char** argv) {
  Arguments args;
  std::optional<std::string> error = ParseArguments(argc, argv, 2, {"out"}, {}, args);
  if (!error && (args.operands.size() != 1 || !args.Value("out")))
    error = "name one file and --out FILE (see --help)";
  if (error) {
    std::cerr << "extract-signature: " << *error << "\n";
    return kExitUsage;
  }
  const std::string& file = args.operands[0];
  std::string der;
  if (std::optional<std::string> why = ExtractSignature(file, der))
    return Refused("extract-signature", file, *why);
  if (!PublishFile(*args.Value("out"), der, kPublicFileMode))
    return Refused("extract-signature", *args.Value("out"), "cannot be written");
  std::cout << file << ": the signature is in " << *args.Value("out") << "\n";
  return kExitOk;
}

int AttachSignatureCommand(int argc, char** argv) {
  Arguments args;
  std::optional<std::string> error = ParseArguments(argc, argv, 2, {}, {}, args);
  if (!error && args.operands.size() != 2) error = "name the file and the signature file";
  if (error) {
    std::cerr << "attach-signature: " << *error << "\n";
    return kExitUsage;
  }
  const std::string& file = args.operands[0];
  std::string pkcs7;
  try {
    pkcs7 = ReadWholeFile(args.operands[1]);
  } catch (const std::exception&) {
    return Refused("attach-signature", args.operands[1], "cannot be read");
  }
  if (std::optional<std::string> why = AttachSignature(file, pkcs7))
    return Refused("attach-signature", file, *why);
  std::cout << file << ": signed with the signature of " << args.operands[1] << "\n";
  return kExitOk;
}

int RemoveSignatureCommand(int argc, char** argv) {
  Arguments args;
  std::optional<std::string> error = ParseArguments(argc, argv, 2, {}, {}, args);
  if (!error && args.operands.size() != 1) error = "name one file";
  if (error) {
    std::cerr << "remove-signature: " << *error << "\n";
    return kExitUsage;
  }
  const std::string& file = args.operands[0];
  if (std::optional<std::string> why = RemoveSignature(file))
    return Refused("remove-signature", file, *why);
  std::cout << file << ": the signature is removed\n";
  return kExitOk;
}

}  // namespace corvane::cli
