// The warning a signing run shows before its first file when the signatures it is about to make
// cannot be followed to a trusted root on this machine.
#pragma once

#include <optional>
#include <string>

#include "base/language.h"

namespace corvane {

class CertManager;

// The text of "UiTipChainNotTrusted" when the loaded certificate with its built chain does not
// reach a root of the trust store; nullopt when it does or nothing is loaded. Call it after
// BuildChain.
std::optional<std::string> ChainWarningText(const CertManager& manager, const SkinTexts& texts);

}  // namespace corvane
