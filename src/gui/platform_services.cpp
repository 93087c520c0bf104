#include "gui/platform_services.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QUrl>

namespace corvane::gui {

PlatformServices DesktopServices() {
  PlatformServices s;
  s.pickFiles = [](QWidget* owner, const QString& filterName, const QString& patterns) {
    return QFileDialog::getOpenFileNames(owner, QString(), QString(),
                                         filterName + QStringLiteral(" (") + patterns + ")");
  };
  s.pickFile = [](QWidget* owner, const QString& filter) {
    return QFileDialog::getOpenFileName(owner, QString(), QString(), filter);
  };
  s.pickFolder = [](QWidget* owner, const QString& title) {
    return QFileDialog::getExistingDirectory(owner, title);
  };
  s.saveFile = [](QWidget* owner, const QString& filter, const QString& suffix) {
    QFileDialog dialog(owner, QString(), QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setDefaultSuffix(suffix);
    return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()
               ? dialog.selectedFiles().first()
               : QString();
  };
  s.openUrl = [](const QString& url) { QDesktopServices::openUrl(QUrl(url)); };
  return s;
}

}  // namespace corvane::gui
