// The desktop's own services the window uses: file and folder pickers and the URL opener.
// Each is a replaceable function, so the widget tests can answer a picker without a person.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace corvane::gui {

struct PlatformServices {
  // Several files; `filterName` with `patterns` ("*.exe *.dll") is the only filter.
  std::function<QStringList(QWidget* owner, const QString& filterName, const QString& patterns)>
      pickFiles;
  // One file, or empty.
  std::function<QString(QWidget* owner, const QString& filter)> pickFile;
  std::function<QString(QWidget* owner, const QString& title)> pickFolder;
  // The save dialog: `filter` ("Cab (*.cab)"), `suffix` added to a bare name; empty: cancelled.
  std::function<QString(QWidget* owner, const QString& filter, const QString& suffix)> saveFile;
  std::function<void(const QString& url)> openUrl;
};

// The desktop's dialogs and opener (QFileDialog, QDesktopServices).
PlatformServices DesktopServices();

}  // namespace corvane::gui
