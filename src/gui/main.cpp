// corvanecode: the desktop program. Finishes a pending update, removes its leftover, keeps
// one copy per user, takes the language from the locale, and runs the main window.
#include <QApplication>
#include <QMessageBox>
#include <QScreen>

#include "app/single_instance.h"
#include "app/update_hand_off.h"
#include "base/language.h"
#include "base/status.h"
#include "gui/gui_wnd.h"
#include "gui/tip_wnd.h"

int main(int argc, char** argv) {
  if (corvane::HandleUpdateHandOff(corvane::CommandLineFromArguments(argc, argv),
                                   corvane::Program::Window))
    return 0;
  corvane::RemoveUpdateLeftover(corvane::Program::Window);
  corvane::SingleInstanceLock lock;
  if (!lock.acquired()) return 0;  // another copy runs: end silently
  corvane::SetUiLanguage(corvane::CurrentUiLanguage());

  QApplication app(argc, argv);
  std::unique_ptr<corvane::gui::CGuiWnd> window;
  try {
    window = std::make_unique<corvane::gui::CGuiWnd>();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, QStringLiteral("CorvaneCode"),
                          QString::fromStdString(corvane::StatusText(e)));
    return 0;
  }
  corvane::gui::CentreOn(window.get(), nullptr);
  window->show();
  window->activateWindow();
  window->setFocus();
  app.exec();
  return 0;
}
