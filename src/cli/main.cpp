// corvanecode-cli: the signing engine for build pipelines.
#include <cstring>
#include <iostream>

#include "app/update_hand_off.h"
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
                      [--cross-cert FILE] [--timestamp-host HOST[:PORT]] [--rfc3161]
                      [--scan-host HOST[:PORT]] FILE...
      Signs each file in place with a timestamped Authenticode signature and prints
      one line per file with its outcome. --append nests the new signature beside
      the existing one; --kernel signs in kernel mode (drivers always are) and adds
      the kernel cross-certificates: built in for Corvane certificates, the file of
      --cross-cert for others. Each file is first looked up by its MD5 digest in
      the file-reputation service and refused when it is malicious.
      Exit status 0 only when every file is complete.
  corvanecode-cli verify [--trust FILE|DIR]... FILE...
      Checks each file's signature against the trusted roots and prints the reasons
      and every nested signature. Exit status 0 only when every file verifies.
  corvanecode-cli check-update [--update-host HOST[:PORT]] [--ca-bundle FILE]
      Prints the current and the offered version and the release notes.
  corvanecode-cli update [--update-host HOST[:PORT]] [--ca-bundle FILE]
      Downloads a newer release beside this program and hands over to it, which
      puts itself in this program's place.
  corvanecode-cli feedback --type bug|advice --text T [--contact C]
                          [--log-host HOST[:PORT]] [--ca-bundle FILE]
      Sends a report or a suggestion with the last error lines of the run log.
  corvanecode-cli --help | --version

Password options (first one given wins; none: empty password):
  --password P          the password itself (visible in process lists)
  --password-file FILE  the first line of FILE
  --password-env VAR    the value of environment variable VAR
  (environment)         CORVANECODE_PFX_PASSWORD

Settings (environment):
  CORVANECODE_TIMESTAMP_HOST  timestamp server host[:port] (plain HTTP, /timestamp, /rfc3161)
  CORVANECODE_SCAN_HOST     file-reputation service host[:port] (plain HTTP)
  CORVANECODE_UPDATE_HOST   download server host[:port] (HTTPS, /download/)
  CORVANECODE_LOG_HOST      log server host[:port] (HTTPS, /ReceiveFeedbackServer)
  CORVANECODE_TRUST         trusted roots for verify (files or directories, ':'-separated)
  CORVANECODE_PROGRAM_DIR   where RunLog/ is kept (default: beside the executable)
  CORVANECODE_CA_BUNDLE     CA certificates for HTTPS servers (default: the system's)
  LANG / LC_ALL             zh_* shows Chinese texts, anything else English
)";

}  // namespace

int main(int argc, char** argv) {
  using namespace corvane::cli;
  // Started by an update as its hand-off: the new program is now in place and running.
  if (corvane::HandleUpdateHandOff(corvane::CommandLineFromArguments(argc, argv))) return kExitOk;
  corvane::RemoveUpdateLeftover();
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
    if (!std::strcmp(argv[1], "cert-info")) return CertInfoCommand(argc, argv);
    if (!std::strcmp(argv[1], "sign")) return SignCommand(argc, argv);
    if (!std::strcmp(argv[1], "verify")) return VerifyCommand(argc, argv);
    if (!std::strcmp(argv[1], "check-update")) return CheckUpdateCommand(argc, argv);
    if (!std::strcmp(argv[1], "update")) return UpdateCommand(argc, argv);
    if (!std::strcmp(argv[1], "feedback")) return FeedbackCommand(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "corvanecode-cli: " << e.what() << "\n";
    return kExitFailed;
  }
  std::cerr << "corvanecode-cli: unknown command '" << argv[1] << "' (see --help)\n";
  return kExitUsage;
}
