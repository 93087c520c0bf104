// The three workers the main window starts with: the version check and the two usage
// reporters.
#include <QPushButton>

#include "app/own_version.h"
#include "app/worker_registry.h"
#include "gui/gui_texts.h"
#include "gui/gui_wnd.h"
#include "net/server_hosts.h"

namespace corvane::gui {
namespace {

// The reporters' control: the registry's stop request as the flag they watch.
void RunReporter(std::stop_token stop, const std::function<void(const ReporterControl&)>& body) {
  std::atomic<bool> stopRequested{stop.stop_requested()};
  std::atomic<bool> busy{false};
  std::stop_callback onStop(stop, [&] { stopRequested = true; });
  ReporterControl control;
  control.stopRequested = &stopRequested;
  control.busy = &busy;
  body(control);
}

}  // namespace

void CGuiWnd::StartBackgroundWorkers() {
  const std::string notesElement = MainTexts().Get("XmlDespName");
  Workers().Launch(WorkerKind::VersionCheck, [this, notesElement](std::stop_token) {
    std::atomic<bool> busy{false};
    const std::optional<CheckVersionButton> button =
        VersionCheckThread(updateStatus_, notesElement, OwnVersion(), busy);
    if (!button) return;
    const CheckVersionButton shown = *button;
    QMetaObject::invokeMethod(this, [this, shown] {
      btCheckVer_->setText(T(shown.textKey));
      // The skin's colours are ARGB with a zero alpha byte; the colour is the last six digits.
      btCheckVer_->setStyleSheet(QStringLiteral("color: #%1;").arg(Q(shown.colour).right(6)));
    });
  });
  Workers().Launch(WorkerKind::UserStat, [](std::stop_token stop) {
    RunReporter(stop, [](const ReporterControl& c) { UserStatThread(LogServerUrl(), c); });
  });
  SigningSession* session = session_.get();
  Workers().Launch(WorkerKind::ActionStat, [this, session](std::stop_token stop) {
    RunReporter(stop, [this, session](const ReporterControl& c) {
      ActionStatThread(counters_, LogServerUrl(), c, [session] { return session->signRunning(); });
    });
  });
}

}  // namespace corvane::gui
