// The three workers the main window starts with: the version check and the two usage
// reporters.
#include <QPushButton>

#include "base/own_version.h"
#include "base/worker_registry.h"
#include "gui/gui_texts.h"
#include "gui/gui_wnd.h"
#include "net/server_hosts.h"

namespace corvane::gui {

void CGuiWnd::StartBackgroundWorkers() {
  const std::string notesElement = MainTexts().Get("XmlDespName");
  Workers().Launch(WorkerKind::VersionCheck, [this, notesElement](std::stop_token) {
    const std::optional<CheckVersionButton> button =
        VersionCheckThread(updateStatus_, notesElement, OwnVersion());
    if (!button) return;
    const CheckVersionButton shown = *button;
    QMetaObject::invokeMethod(this, [this, shown] {
      btCheckVer_->setText(T(shown.textKey));
      // The skin's colours are ARGB with a zero alpha byte; the colour is the last six digits.
      btCheckVer_->setStyleSheet(QStringLiteral("color: #%1;").arg(Q(shown.colour).right(6)));
    });
  });
  Workers().Launch(WorkerKind::UserStat, [](std::stop_token stop) {
    ReporterControl control;
    control.stop = stop;
    UserStatThread(LogServerUrl(), control);
  });
  SigningSession* session = session_.get();
  Workers().Launch(WorkerKind::ActionStat, [this, session](std::stop_token stop) {
    ReporterControl control;
    control.stop = stop;
    ActionStatThread(counters_, LogServerUrl(), control,
                     [session] { return session->signRunning(); });
  });
}

}  // namespace corvane::gui
