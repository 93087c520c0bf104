#include "gui/gui_texts.h"

#include <vector>

#include "base/window_keys.h"

namespace corvane::gui {
namespace {

SkinTexts LoadMainTexts() {
  std::vector<const char*> keys(std::begin(kGuiWndKeys), std::end(kGuiWndKeys));
  keys.insert(keys.end(), std::begin(kGuiDialogKeys), std::end(kGuiDialogKeys));
  return GetSkinLan(kGuiWndOwner, keys);
}

}  // namespace

const SkinTexts& MainTexts() {
  static const SkinTexts texts = LoadMainTexts();
  return texts;
}

const SkinTexts& CrossCertTexts() {
  static const SkinTexts texts = GetSkinLan(kCrossCertWndOwner, kCrossCertWndKeys);
  return texts;
}

QString SkinFolder() { return CurrentUiLanguage() == UiLanguage::Chinese ? "zh" : "en"; }

}  // namespace corvane::gui
