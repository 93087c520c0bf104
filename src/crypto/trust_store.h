// The roots signatures are checked against: the system's CA bundle and the user's own trust
// directory, or the locations the user names instead.
#pragma once

#include <openssl/x509_vfy.h>

#include <memory>
#include <string>
#include <vector>

namespace corvane {

struct X509StoreFree {
  void operator()(X509_STORE* store) const { X509_STORE_free(store); }
};
using X509StorePtr = std::unique_ptr<X509_STORE, X509StoreFree>;

// Default locations: the system bundle (/etc/ssl/certs/ca-certificates.crt) and the user's
// trust directory ($XDG_CONFIG_HOME/corvanecode/trust, else ~/.config/corvanecode/trust),
// whose *.pem, *.crt and *.cer files (PEM or DER) are all trusted. CORVANECODE_TRUST (a file
// or directory; several separated by ':') replaces both.
std::vector<std::string> DefaultTrustLocations();
std::string UserTrustDirectory();

// The user's intermediate store: CA certificates that are not trusted themselves but may
// complete a chain ($XDG_CONFIG_HOME/corvanecode/intermediate, else
// ~/.config/corvanecode/intermediate), files as in the trust directory.
std::string UserIntermediateDirectory();

// A store holding every certificate found at the locations (files or directories). The system
// bundle's certificates are looked up by name in the system's hashed certificate directory
// where there is one (the store then holds only those asked for so far).
X509StorePtr BuildTrustStore(const std::vector<std::string>& locations);
X509StorePtr BuildDefaultTrustStore();

}  // namespace corvane
