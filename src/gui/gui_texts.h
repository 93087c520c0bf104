// The texts the desktop windows show: the main window's keys and the dialogs' keys, read from
// the language table of this run once, and the conversions between the engine's UTF-8 and Qt.
#pragma once

#include <QString>
#include <string>
#include <string_view>

#include "base/language.h"
#include "base/window_texts.h"

namespace corvane::gui {

inline QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
inline std::string U(const QString& text) { return text.toStdString(); }

// The main window's table plus the keys of the dialogs that stand in for platform services
// (store selection, certificate viewer, PIN prompt, file properties). Loaded once.
const SkinTexts& MainTexts();
const SkinTexts& CrossCertTexts();
inline QString T(std::string_view key) { return Q(MainTexts().Get(key)); }

// "zh" or "en": the folder of this language's layout files.
QString SkinFolder();

}  // namespace corvane::gui
