#include "cert/chain_warning.h"

#include "cert/cert_manager.h"
#include "cert/chain_completion.h"

namespace corvane {

std::optional<std::string> ChainWarningText(const CertManager& manager, const SkinTexts& texts) {
  if (!manager.certificate()) return std::nullopt;
  if (ChainReachesTrustedRoot(manager.certificate(), manager.chain())) return std::nullopt;
  return texts.Get(kChainNotTrustedKey);
}

}  // namespace corvane
