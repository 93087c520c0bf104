// The version window: the running and the offered version with the release notes, and the
// self-update. The check and the update are the engine's (net/version_update.h) and run on the
// registry's version-window worker; their outcomes reach the controls as queued calls.
#pragma once

#include <functional>
#include <memory>
#include <stop_token>
#include <string>

#include "gui/tip_wnd.h"
#include "net/version_update.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTextEdit;

namespace corvane::gui {

struct VerWndOptions {
  // The program the update replaces; empty: the running executable.
  std::string runningExecutable;
  // Ends the program once the new executable runs the hand-off; default: exit code 0 at once.
  std::function<void()> endProgram;
};

class VerWnd : public SkinDialog {
  Q_OBJECT

 public:
  // `known` is what the main window's background check found; it is used as it is when it
  // says that a newer release exists, otherwise the window checks by itself.
  VerWnd(const UpdateStatus& known, VerWndOptions options, QWidget* owner);
  ~VerWnd() override;

  const UpdateStatus& status() const { return status_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void StartCheck();
  void ShowCheck(const UpdateCheckView& view, const UpdateStatus& status);
  void ExeUpdate();
  void LaunchUpdate();
  void ShowUpdateState(const QString& stateKey, const QString& colour);
  void UpdateEnded(UpdateOutcome outcome);
  void SetUpdateButton(bool active);

  UpdateStatus status_;
  UpdateCheckView view_;
  VerWndOptions options_;
  QString stateStyle_;  // the skin's style of the state line
  // Ends the transfers of this window's workers when it closes.
  std::shared_ptr<std::stop_source> stop_;

  QLabel* lbVerState_;
  QLabel* lbNewVer_;
  QLabel* lbCurVer_;
  QTextEdit* edtDesp_;
  QProgressBar* progUpdate_;
  QPushButton* btExeUpdate_;
  QPushButton* btClose_;
};

// The main window's "check version" button: the version window, modal over `owner`, with what
// the background check knows once it has ended.
void OpenVerWnd(QWidget* owner, const UpdateStatus& known);

}  // namespace corvane::gui
