// corvanecode-cli: the signing engine for build pipelines.
#include <cstring>
#include <iostream>

#include "cli/cli_options.h"
#include "cli/commands.h"

namespace {

constexpr char kUsage[] =
    R"(corvanecode-cli )" CORVANE_VERSION R"( - code signing from the command line

Usage:
  corvanecode-cli cert-info --pfx FILE [password option]
      Shows the signing certificate of a PFX file: identity, validity, code-signing
      usage, the chain that signatures will carry and whether the certificate belongs
      to the Corvane hierarchy. Exit status 0 when it can sign, 3 when it is expired or
      not for code signing, 1 when the file or password is refused.
  corvanecode-cli sign --pfx FILE [password option] [--append] [--kernel]
                      [--cross-cert FILE] [--timestamp-host HOST[:PORT]] [--rfc3161] FILE...
      Signs each file in place with a timestamped Authenticode signature and prints
      one line per file with its outcome. --append nests the new signature beside
      the existing one; --kernel signs in kernel mode (drivers always are) and adds
      the kernel cross-certificates: built in for Corvane certificates, the file of
      --cross-cert for others. Exit status 0 only when every file is complete.
  corvanecode-cli verify [--trust FILE|DIR]... FILE...
      Checks each file's signature against the trusted roots and prints the reasons
      and every nested signature. Exit status 0 only when every file verifies.
  corvanecode-cli cab --out FILE [--sign SIGN OPTIONS] FILE...
      Builds an MSZIP cabinet of the files (one entry per file, in order, under its bare
      name) and prints one line per file. The first file that fails ends the run and no
      cabinet is written. --sign signs the cabinet right after, taking the options of
      sign (--pfx, --append, ...).
  corvanecode-cli --help | --version

Password options (first one given wins; none: empty password):
  --password P          the password itself (visible in process lists)
  --password-file FILE  the first line of FILE
  --password-env VAR    the value of environment variable VAR
  (environment)         CORVANECODE_PFX_PASSWORD

Settings (environment):
  CORVANECODE_TIMESTAMP_HOST  timestamp server host[:port] (plain HTTP, /timestamp, /rfc3161)
  CORVANECODE_TRUST         trusted roots for verify (files or directories, ':'-separated)
  CORVANECODE_PROGRAM_DIR   where RunLog/ is kept (default: beside the executable)
  CORVANECODE_CA_BUNDLE     CA certificates for HTTPS servers (default: the system's)
  LANG / LC_ALL             zh_* shows Chinese texts, anything else English
)";

}  // namespace

int main(int argc, char** argv) {
  using namespace corvane::cli;
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") ||
      !std::strcmp(argv[1], "help")) {
    std::cout << kUsage;
    return argc < 2 ? kExitUsage : kExitOk;
  }
  if (!std::strcmp(argv[1], "--version")) {
    std::cout << "corvanecode-cli " << CORVANE_VERSION << "\n";
    return kExitOk;
  }
  try {
    if (!std::strcmp(argv[1], "cab")) return CabCommand(argc, argv);
    if (!std::strcmp(argv[1], "cert-info")) return CertInfoCommand(argc, argv);
    if (!std::strcmp(argv[1], "sign")) return SignCommand(argc, argv);
    if (!std::strcmp(argv[1], "verify")) return VerifyCommand(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "corvanecode-cli: " << e.what() << "\n";
    return kExitFailed;
  }
  std::cerr << "corvanecode-cli: unknown command '" << argv[1] << "' (see --help)\n";
  return kExitUsage;
}
