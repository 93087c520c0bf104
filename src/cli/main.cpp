// corvanecode-cli: the signing engine for build pipelines.
#include <cstring>
#include <iostream>

#include "app/update_hand_off.h"
#include "cli/cli_options.h"
#include "cli/commands.h"
#include "net/timestamp_setting.h"

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
                      [--scan-host HOST[:PORT]] [--jobs N] [--page-hashes] FILE...
      Signs each file in place with a timestamped Authenticode signature and prints
      one line per file with its outcome. --append nests the new signature beside
      the existing one; --kernel signs in kernel mode (drivers always are) and adds
      the kernel cross-certificates: built in for Corvane certificates, the file of
      --cross-cert for others. Each file is first looked up by its MD5 digest in
      the file-reputation service and refused when it is malicious.
      --timestamp-host may be repeated: the hosts are tried in order, each one again
      after a pause when it times out or answers 5xx. Without it the hosts come from
      CORVANECODE_TIMESTAMP_HOST, then from the desktop program's saved setting.
      --jobs signs up to N files (1 to 64, default 1) at once; the lines still come
      in the order of the files. --page-hashes adds the hash of every page of a PE
      image (SHA-1 pages for a SHA-1 signature, else SHA-256), which verify checks.
      Exit status 0 only when every file is complete.
  corvanecode-cli sign --store-cert ISSUER:SERIAL|URI [key store options] [--append]
                      [--kernel] [--cross-cert FILE] [--timestamp-host HOST[:PORT]] FILE...
      Signs as above with a certificate of the user's store: a certificate on a PKCS #11
      token whose private key is on the token too. ISSUER is the issuer's name as
      'store list' shows it, SERIAL its serial number in hex; a PKCS #11 URI (RFC 7512)
      names it as well. The key never leaves the token.
  corvanecode-cli store list [key store options]
      Lists the certificates of the tokens that can sign code: not expired, key on the
      token, not a CA, with the code-signing usage.
  corvanecode-cli store show ISSUER:SERIAL|URI [key store options]
      Shows a certificate of the store: names, serial, validity, usages, thumbprint.
  corvanecode-cli store tokens [key store options]
      Lists the tokens that can make RSA keys, with their largest key and key lengths.
  corvanecode-cli install FILE|- [--yes] [--pfx-password P] [key store options]
      Installs an X.509 certificate, a PKCS #7 bundle or a PKCS #12 file (- reads pasted
      text from standard input): a certificate whose key is on a token goes onto that
      token beside its key, roots into ~/.config/corvanecode/trust, other CA certificates
      into ~/.config/corvanecode/intermediate. Shows the plan and asks first; --yes answers.
  corvanecode-cli verify [--trust FILE|DIR]... FILE...
      Checks each file's signature against the trusted roots and prints the reasons
      and every nested signature. Exit status 0 only when every file verifies.
  corvanecode-cli extract-signature FILE --out P7
  corvanecode-cli attach-signature FILE P7
  corvanecode-cli remove-signature FILE
      Move a signature between files and machines: extract-signature writes the
      signature of a PE image, cabinet or installer package as PKCS #7 (DER);
      attach-signature places such a signature (DER or PEM) into FILE, replacing its
      own, and refuses one whose digest is not FILE's; remove-signature takes the
      signature out. FILE changes only when the whole change succeeded.
  corvanecode-cli cat --out FILE [--sha256] [--sign SIGN OPTIONS] FILE...
      Builds a security catalog over the files (one member per file, in order; an .inf
      file first gets a CatalogFile entry naming the catalog) and prints one line per
      file. The first file that fails ends the run and no catalog is written. --sha256
      lists the members by SHA-256 digests (a version 2 catalog; SHA-1 by default). --sign
      signs the catalog right after, taking the options of sign (--pfx, --append, ...).
  corvanecode-cli csr [--kind code|client|ssl] --key-out FILE --bits 2048|4096 --out FILE
                     [--publisher NAME] [--unit NAME]          (code signing)
                     [--common-name NAME] [--email ADDRESS]    (client)
                     [--domain NAME] [--unit NAME] [--country CODE]  (SSL, CN by default)
      Makes an RSA key (written unencrypted, owner-only, to --key-out) and a PKCS #10
      request for it (PEM, to --out), checks the request and describes it.
  corvanecode-cli csr --key-store TOKEN [--kind ...] [--bits 2048|4096] --out FILE
                      [the fields of the kind] [key store options]
      The same with the key pair made on the token (label or PKCS #11 URI) and the
      request signed there; the key never leaves the token. Install the certificate the
      authority returns with 'install'.
  corvanecode-cli check-csr FILE
      Verifies a PEM request and shows its version, key, signature algorithm and subject.
  corvanecode-cli pfx --cert FILE|--cert-text TEXT --key FILE [password option] --out FILE
      Joins the issued certificate and its private key into a PFX file. The password
      opens the key file (PEM, PKCS #12 or encrypted DER) and protects the PFX.
  corvanecode-cli spc --user FILE|--user-text TEXT [--upper FILE]... --out FILE
      Writes the chain (up to three upper certificates in order, then the user's) as a
      PEM PKCS #7 SPC file; certificates repeating a serial number are left out.
  corvanecode-cli cab --out FILE [--sign SIGN OPTIONS] FILE...
      Builds an MSZIP cabinet of the files (one entry per file, in order, under its bare
      name) and prints one line per file. The first file that fails ends the run and no
      cabinet is written. --sign signs the cabinet right after, taking the options of
      sign (--pfx, --append, ...).
  corvanecode-cli check-update [--update-host HOST[:PORT]] [--ca-bundle FILE]
      Prints the current and the offered version and the release notes.
  corvanecode-cli update [--update-host HOST[:PORT]] [--ca-bundle FILE]
      Downloads a newer release of this program (and of the window beside it) and
      hands over to it, which puts itself in this program's place. An installed copy
      (a package) is not replaced: it says where to get the new version and exits
      with status 1.
  corvanecode-cli feedback --type bug|advice --text T [--contact C]
                          [--log-host HOST[:PORT]] [--ca-bundle FILE]
      Sends a report or a suggestion with the last error lines of the run log.
  corvanecode-cli --help | --version

Password options (first one given wins; none: empty password):
  --password P          the password itself (visible in process lists)
  --password-file FILE  the first line of FILE
  --password-env VAR    the value of environment variable VAR
  (environment)         CORVANECODE_PFX_PASSWORD

Key store options:
  --pkcs11-module PATH  the PKCS #11 module of the tokens (else CORVANECODE_PKCS11_MODULE,
                        else the modules p11-kit is configured with)
  --pin PIN             the tokens' user PIN (else CORVANECODE_PIN, else asked once on
                        the terminal)

Settings (environment):
  CORVANECODE_TIMESTAMP_HOST  timestamp server host[:port] (plain HTTP, /timestamp, /rfc3161);
                            several hosts separated by commas or spaces are tried in order
  CORVANECODE_TIMESTAMP_RETRY_DELAY  seconds before a timestamp host is asked again (1)
  CORVANECODE_TRANSFER_TIME_LIMIT    caps the time limits of every transfer, in seconds
  CORVANECODE_SCAN_HOST     file-reputation service host[:port] (plain HTTP)
  CORVANECODE_UPDATE_HOST   download server host[:port] (HTTPS, /download/)
  CORVANECODE_LOG_HOST      log server host[:port] (HTTPS, /ReceiveFeedbackServer)
  CORVANECODE_TRUST         trusted roots for verify (files or directories, ':'-separated)
  CORVANECODE_PROGRAM_DIR   where RunLog/ and Config/ are kept (default: beside the program
                            when its directory is writable and not an installed copy, else
                            $XDG_STATE_HOME/corvanecode and $XDG_CONFIG_HOME/corvanecode)
  CORVANECODE_CA_BUNDLE     CA certificates for HTTPS servers (default: the system's)
  LANG / LC_ALL             zh_* shows Chinese texts, anything else English
)";

}  // namespace

int main(int argc, char** argv) {
  using namespace corvane::cli;
  // Started by an update as its hand-off: the new program is now in place and running.
  if (corvane::HandleUpdateHandOff(corvane::CommandLineFromArguments(argc, argv),
                                   corvane::Program::Cli)) {
    return kExitOk;
  }
  corvane::RemoveUpdateLeftover(corvane::Program::Cli);
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") ||
      !std::strcmp(argv[1], "help")) {
    std::cout << kUsage;
    return argc < 2 ? kExitUsage : kExitOk;
  }
  if (!std::strcmp(argv[1], "--version")) {
    std::cout << "corvanecode-cli " << CORVANE_VERSION << "\n";
    return kExitOk;
  }
  corvane::ApplyTimestampHostsSetting();
  try {
    if (!std::strcmp(argv[1], "cat")) return CatCommand(argc, argv);
    if (!std::strcmp(argv[1], "cab")) return CabCommand(argc, argv);
    if (!std::strcmp(argv[1], "cert-info")) return CertInfoCommand(argc, argv);
    if (!std::strcmp(argv[1], "sign")) return SignCommand(argc, argv);
    if (!std::strcmp(argv[1], "verify")) return VerifyCommand(argc, argv);
    if (!std::strcmp(argv[1], "csr")) return CsrCommand(argc, argv);
    if (!std::strcmp(argv[1], "check-csr")) return CheckCsrCommand(argc, argv);
    if (!std::strcmp(argv[1], "pfx")) return PfxCommand(argc, argv);
    if (!std::strcmp(argv[1], "spc")) return SpcCommand(argc, argv);
    if (!std::strcmp(argv[1], "store")) return StoreCommand(argc, argv);
    if (!std::strcmp(argv[1], "install")) return InstallCommand(argc, argv);
    if (!std::strcmp(argv[1], "check-update")) return CheckUpdateCommand(argc, argv);
    if (!std::strcmp(argv[1], "update")) return UpdateCommand(argc, argv);
    if (!std::strcmp(argv[1], "feedback")) return FeedbackCommand(argc, argv);
    if (!std::strcmp(argv[1], "extract-signature")) return ExtractSignatureCommand(argc, argv);
    if (!std::strcmp(argv[1], "attach-signature")) return AttachSignatureCommand(argc, argv);
    if (!std::strcmp(argv[1], "remove-signature")) return RemoveSignatureCommand(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "corvanecode-cli: " << e.what() << "\n";
    return kExitFailed;
  }
  std::cerr << "corvanecode-cli: unknown command '" << argv[1] << "' (see --help)\n";
  return kExitUsage;
}
