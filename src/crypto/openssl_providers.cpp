#include <openssl/provider.h>

#include <cstdlib>
#include <mutex>

#include "crypto/openssl_ptr.h"

namespace corvane {
namespace {

OSSL_PROVIDER* g_default = nullptr;
OSSL_PROVIDER* g_legacy = nullptr;

void UnloadProviders() {
  if (g_legacy) OSSL_PROVIDER_unload(g_legacy);
  if (g_default) OSSL_PROVIDER_unload(g_default);
  g_legacy = g_default = nullptr;
}

}  // namespace

void EnsureOpenSslProviders() {
  static std::once_flag once;
  std::call_once(once, [] {
    // Loading any provider explicitly turns off the implicit default one, so both are named.
    // A missing legacy module only costs the old PFX ciphers.
    g_default = OSSL_PROVIDER_load(nullptr, "default");
    g_legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    // Registered after OpenSSL's own clean-up, so it runs before it.
    std::atexit(UnloadProviders);
  });
}

}  // namespace corvane
