#include "base/window_texts.h"

#include "base/window_keys.h"

namespace corvane {

const SkinTexts& CsrToolTexts() {
  static const SkinTexts texts = GetSkinLan(kCsrToolOwner, kCsrToolKeys);
  return texts;
}

const SkinTexts& CertToolTexts() {
  static const SkinTexts texts = GetSkinLan(kCertToolOwner, kCertToolKeys);
  return texts;
}

}  // namespace corvane
