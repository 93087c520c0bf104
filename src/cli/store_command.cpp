// corvanecode-cli store: the user's certificate store on PKCS #11 tokens, as the selection
// dialog and the certificate viewer show it.
#include <iostream>

#include "base/status.h"
#include "cert/store_selection.h"
#include "cli/cli_options.h"
#include "cli/commands.h"
#include "cli/key_store_options.h"
#include "csr/key_store_csr.h"

namespace corvane::cli {
namespace {

int List(KeyStore& store) {
  std::vector<StoreCertEntry> entries = SelectableCertificates(store);
  for (const StoreCertEntry& e : entries) {
    std::cout << e.identity.subjectName << "\n"
              << "  issuer: " << e.identity.issuerName << "\n"
              << "  serial: " << e.identity.serialHex << "\n"
              << "  token:  " << e.token << "\n"
              << "  uri:    " << e.uri << "\n"
              << "  use:    --store-cert '" << e.identity.issuerName << ":" << e.identity.serialHex
              << "'\n";
  }
  if (entries.empty()) std::cerr << "store: no certificate on the tokens can sign code\n";
  return kExitOk;
}

int Show(KeyStore& store, const std::string& name) {
  const TokenCertificate& cert = FindCertificate(store, name);
  CertificateDetails d = ShowCertificateData(cert.certificate);
  std::cout << "Subject:     " << d.subject << "\n"
            << "Issuer:      " << d.issuer << "\n"
            << "Serial:      " << d.serialHex << "\n"
            << "Valid from:  " << d.notBefore << "\n"
            << "Valid to:    " << d.notAfter << "\n"
            << "Usages:     ";
  for (std::size_t i = 0; i < d.usages.size(); ++i) std::cout << (i ? ", " : " ") << d.usages[i];
  std::cout << "\n"
            << "Thumbprint:  " << d.thumbprint << "\n"
            << "Token:       " << store.Tokens()[cert.token].label << "\n"
            << "Private key: " << (cert.key ? "on the token" : "none") << "\n"
            << "URI:         " << cert.uri << "\n";
  return kExitOk;
}

int Tokens(KeyStore& store) {
  for (const KeyStoreProvider& p : KeyStoreProviders(store)) {
    std::cout << p.name << "\n  largest RSA key: " << p.maxKeyBits << "\n  key lengths:";
    for (const std::string& length : KeyStoreKeyLengths(p.maxKeyBits)) std::cout << " " << length;
    std::cout << "\n  uri: " << store.Tokens()[p.token].uri << "\n";
  }
  return kExitOk;
}

}  // namespace

int StoreCommand(int argc, char** argv) {
  Arguments args;
  if (auto error = ParseArguments(argc, argv, 2, {"pkcs11-module", "pin"}, {}, args)) {
    std::cerr << "store: " << *error << "\n";
    return kExitUsage;
  }
  const std::string action = args.operands.empty() ? "" : args.operands[0];
  const bool single = args.operands.size() == 1;
  if (!((action == "list" || action == "tokens") && single) &&
      !(action == "show" && args.operands.size() == 2)) {
    std::cerr << "store: use 'store list', 'store show ISSUER:SERIAL|URI', or 'store tokens' "
                 "(see --help)\n";
    return kExitUsage;
  }
  std::shared_ptr<KeyStore> store = OpenKeyStore(args);
  if (store->Tokens().empty()) {
    std::cerr << "store: no token found (name a module with --pkcs11-module)\n";
    return kExitFailed;
  }
  try {
    if (action == "tokens") return Tokens(*store);
    return action == "list" ? List(*store) : Show(*store, args.operands[1]);
  } catch (const std::exception& e) {
    std::cerr << "store: "
              << (HasStatus(e, StatusCode::Undefined) && action == "show"
                      ? "no certificate of the store matches " + args.operands[1]
                      : std::string(e.what()))
              << "\n";
    return kExitFailed;
  }
}

}  // namespace corvane::cli
