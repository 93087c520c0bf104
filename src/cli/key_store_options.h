// The key store options shared by the commands: --pkcs11-module PATH (or
// CORVANECODE_PKCS11_MODULE, else p11-kit's configured modules) and --pin (or CORVANECODE_PIN,
// else a prompt on the terminal).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "cert/cert_identity.h"
#include "cert/key_store.h"
#include "cli/cli_options.h"

namespace corvane::cli {

inline constexpr const char* kKeyStoreValueOptions[] = {"pkcs11-module", "pin"};

std::shared_ptr<KeyStore> OpenKeyStore(const Arguments& args);

// "ISSUER:SERIAL" (split at the last colon; the serial in hex, any case) or a PKCS #11 URI.
// Raises "undefined" when no certificate of the store matches.
const TokenCertificate& FindCertificate(KeyStore& store, const std::string& name);

CertIdentity IdentityOf(const TokenCertificate& cert);

}  // namespace corvane::cli
