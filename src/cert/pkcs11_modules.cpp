#include "cert/pkcs11_modules.h"

#include <p11-kit/p11-kit.h>

#include <cstdlib>
#include <cstring>

namespace corvane {

std::vector<std::string> ConfiguredPkcs11Modules() {
  std::vector<std::string> paths;
  CK_FUNCTION_LIST** modules = p11_kit_modules_load(nullptr, P11_KIT_MODULE_UNMANAGED);
  if (!modules) return paths;
  for (CK_FUNCTION_LIST** m = modules; *m; ++m) {
    char* trust = p11_kit_config_option(*m, "trust-policy");
    bool trustPolicy = trust && std::strcmp(trust, "yes") == 0;
    std::free(trust);
    char* file = p11_kit_module_get_filename(*m);
    if (file && !trustPolicy) paths.emplace_back(file);
    std::free(file);
  }
  p11_kit_modules_release(modules);
  return paths;
}

std::vector<std::string> ChosenPkcs11Modules(const std::string& explicitPath) {
  if (!explicitPath.empty()) return {explicitPath};
  if (const char* env = std::getenv("CORVANECODE_PKCS11_MODULE"); env && *env) return {env};
  return ConfiguredPkcs11Modules();
}

}  // namespace corvane
