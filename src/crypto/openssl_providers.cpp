#include <openssl/provider.h>

#include <mutex>

#include "crypto/openssl_ptr.h"

namespace corvane {

void EnsureOpenSslProviders() {
  static std::once_flag once;
  std::call_once(once, [] {
    // Loading any provider explicitly turns off the implicit default one, so both are named.
    // A missing legacy module only costs the old PFX ciphers.
    OSSL_PROVIDER_load(nullptr, "default");
    OSSL_PROVIDER_load(nullptr, "legacy");
  });
}

}  // namespace corvane
