// The windows' layouts: Designer files embedded as resources, one per window and language
// (":/skin/en/TipWnd.ui", ":/skin/zh/TipWnd.ui"), built at run time.
#pragma once

#include <QString>
#include <QWidget>

namespace corvane::gui {

// Builds the layout `name` (without ".ui") of this run's language into `parent`, sized as the
// layout says. Null when the layout cannot be built.
QWidget* LoadSkin(const QString& name, QWidget* parent);

// Ends the program the way a broken skin does: an error box, then exit code 1.
[[noreturn]] void FailOnBrokenSkin();

// A control of a built layout by its name; a missing control is a broken skin.
template <typename T>
T* Control(QWidget* root, const char* name) {
  T* control = root->findChild<T*>(QString::fromLatin1(name));
  if (!control) FailOnBrokenSkin();
  return control;
}

}  // namespace corvane::gui
