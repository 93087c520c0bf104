// Which PKCS #11 modules make up the user's store: the one the user names, else the modules
// p11-kit is configured with (trust-policy modules left out: they hold roots, never keys).
#pragma once

#include <string>
#include <vector>

namespace corvane {

// `explicitPath` when not empty, else CORVANECODE_PKCS11_MODULE when set, else p11-kit's.
std::vector<std::string> ChosenPkcs11Modules(const std::string& explicitPath = "");

std::vector<std::string> ConfiguredPkcs11Modules();

}  // namespace corvane
