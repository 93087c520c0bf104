// The texts of the CSR and certificate tabs in the current language, loaded once: the tabs and
// the command-line tools that stand in for them show the same ones.
#pragma once

#include "base/language.h"

namespace corvane {

const SkinTexts& CsrToolTexts();
const SkinTexts& CertToolTexts();

}  // namespace corvane
