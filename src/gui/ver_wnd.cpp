#include "gui/ver_wnd.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "base/own_version.h"
#include "base/program_dir.h"
#include "base/window_keys.h"
#include "base/worker_registry.h"
#include "gui/gui_texts.h"
#include "gui/skin_loader.h"
#include "net/communicator.h"

namespace corvane::gui {
namespace {

const SkinTexts& VerTexts() {
  static const SkinTexts texts = GetSkinLan(kVerWndOwner, kVerWndKeys);
  return texts;
}
QString VT(std::string_view key) { return Q(VerTexts().Get(key)); }

// The skin's colours are ARGB with the alpha byte first; Qt takes the last six digits.
QString Rgb(const QString& skinColour) { return QStringLiteral("#") + skinColour.right(6); }

QString ButtonStyle(const char* background, const char* text) {
  return QStringLiteral("background-color: %1; color: %2;")
      .arg(Rgb(QString::fromLatin1(background)), Rgb(QString::fromLatin1(text)));
}

template <typename F>
void OnUiThread(F&& f) {
  QMetaObject::invokeMethod(qApp, std::forward<F>(f), Qt::QueuedConnection);
}

// Runs `body` on the version-window worker. The worker of a window closed a moment ago may
// still be leaving (its transfer abandoned); the start is tried again for up to 3 seconds.
constexpr int kLaunchAttempts = 150;
constexpr int kLaunchRetryMs = 20;

void LaunchSoon(QObject* context, const std::function<void(std::stop_token)>& body,
                const std::function<void()>& failed, int attemptsLeft = kLaunchAttempts) {
  if (Workers().Launch(WorkerKind::VersionWindow, body)) return;
  if (attemptsLeft == 0) {
    failed();
    return;
  }
  QTimer::singleShot(kLaunchRetryMs, context, [context, body, failed, attemptsLeft] {
    LaunchSoon(context, body, failed, attemptsLeft - 1);
  });
}

}  // namespace

VerWnd::VerWnd(const UpdateStatus& known, VerWndOptions options, QWidget* owner)
    : SkinDialog(QStringLiteral("VersionWnd"), T("title"), owner),
      status_(known),
      options_(std::move(options)),
      stop_(std::make_shared<std::stop_source>()),
      lbVerState_(Control<QLabel>(root(), "lbVerState")),
      lbNewVer_(Control<QLabel>(root(), "lbNewVer")),
      lbCurVer_(Control<QLabel>(root(), "lbCurVer")),
      edtDesp_(Control<QTextEdit>(root(), "edtDesp")),
      progUpdate_(Control<QProgressBar>(root(), "progUpdate")),
      btExeUpdate_(Control<QPushButton>(root(), "btExeUpdate")),
      btClose_(Control<QPushButton>(root(), "btClose")) {
  setObjectName(QStringLiteral("VerWnd"));
  stateStyle_ = lbVerState_->styleSheet();
  if (options_.runningExecutable.empty()) options_.runningExecutable = RunningExecutablePath();
  if (!options_.endProgram) {
    options_.endProgram = [] {
      std::fflush(nullptr);
      std::_Exit(0);
    };
  }
  Control<QLabel>(root(), "lbTitle")->setText(windowTitle());
  for (QPushButton* button : root()->findChildren<QPushButton*>()) button->setAutoDefault(false);
  SetUpdateButton(false);
  btExeUpdate_->setEnabled(false);
  edtDesp_->setReadOnly(true);
  progUpdate_->setRange(0, 100);
  progUpdate_->setValue(0);
  progUpdate_->hide();
  connect(btClose_, &QPushButton::clicked, this, [this] { done(2); });
  connect(btExeUpdate_, &QPushButton::clicked, this, &VerWnd::ExeUpdate);
  StartCheck();
}

VerWnd::~VerWnd() { stop_->request_stop(); }

void VerWnd::SetUpdateButton(bool active) {
  btExeUpdate_->setStyleSheet(active ? ButtonStyle("#FF00C01D", "#00FFFFFF")
                                     : ButtonStyle("#FFF8F8F8", "#00000000"));
}

void VerWnd::StartCheck() {
  btClose_->setEnabled(false);
  std::string current = status_.currentVersion;
  if (!status_.hasNew) {
    lbVerState_->setText(VT("StateChecking"));
    lbNewVer_->hide();
    current = OwnVersion();
  }
  lbCurVer_->setText(lbCurVer_->text() + Q(current));
  const std::string notesElement = VerTexts().Get("XmlDespName");
  if (status_.hasNew) {
    // What the main window found is shown at once, without a look at the server.
    UpdateStatus status = status_;
    const UpdateCheckView view = UpdateCheckThread(status, notesElement, current);
    ShowCheck(view, status);
    return;
  }
  QPointer<VerWnd> self(this);
  const UpdateStatus known = status_;
  LaunchSoon(
      this,
      [self, stop = stop_, known, notesElement, current](std::stop_token programStop) {
        std::stop_callback relay(programStop, [stop] { stop->request_stop(); });
        TransferStopScope transfers(stop->get_token());
        UpdateStatus status = known;
        const UpdateCheckView view = UpdateCheckThread(status, notesElement, current);
        OnUiThread([self, view, status] {
          if (self) self->ShowCheck(view, status);
        });
      },
      [this] {
        UpdateCheckView notConnected;
        notConnected.stateKey = "StateNotConnect";
        ShowCheck(notConnected, status_);
      });
}

void VerWnd::ShowCheck(const UpdateCheckView& view, const UpdateStatus& status) {
  status_ = status;
  view_ = view;
  if (view.stateKey == "StateNotConnect") {
    lbVerState_->setText(VT(view.stateKey));
    lbNewVer_->hide();
    btExeUpdate_->setStyleSheet(ButtonStyle("#FF00C01D", "#00000000"));
    btExeUpdate_->setText(VT("BtnExeUpdateName"));
    btExeUpdate_->setEnabled(true);
    progUpdate_->hide();
    btClose_->setEnabled(true);
    return;
  }
  if (view.byPackageManager) {
    lbVerState_->setText(VT("StateUpdateByPackage") + " " + Q(view.downloadPage));
  } else {
    lbVerState_->setText(VT(view.stateKey));
  }
  edtDesp_->setPlainText(view.notesKey.empty() ? Q(view.notes) : VT(view.notesKey));
  if (view.offerUpdate) {
    SetUpdateButton(true);
  } else {
    btExeUpdate_->setStyleSheet(ButtonStyle("#FF00C01D", "#00000000"));
    btExeUpdate_->setText(VT("BtnExeUpdateName"));
  }
  btExeUpdate_->setEnabled(true);
  if (view.showNewVersion) {
    lbNewVer_->setText(lbNewVer_->text() + Q(status.newVersion));
    lbNewVer_->show();
  }
  progUpdate_->setVisible(view.offerUpdate);
  btClose_->setEnabled(true);
}

void VerWnd::ExeUpdate() {
  if (!status_.hasNew || !view_.offerUpdate) {
    done(1);
    return;
  }
  btClose_->setEnabled(false);
  SetUpdateButton(false);
  btExeUpdate_->setEnabled(false);
  LaunchUpdate();
}

void VerWnd::LaunchUpdate() {
  QPointer<VerWnd> self(this);
  UpdateProgress report;
  report.state = [self](const std::string& key, const char* colour) {
    const QString k = Q(key), c = QString::fromLatin1(colour);
    OnUiThread([self, k, c] {
      if (self) self->ShowUpdateState(k, c);
    });
  };
  report.progress = [self](int percent) {
    OnUiThread([self, percent] {
      if (self) self->progUpdate_->setValue(percent);
    });
  };
  LaunchSoon(
      this,
      [self, report, status = status_, exe = options_.runningExecutable](std::stop_token) {
        const UpdateOutcome outcome =
            ExeUpdateThread(status, report, Workers(), exe, Program::Window);
        OnUiThread([self, outcome] {
          if (self) self->UpdateEnded(outcome);
        });
      },
      [this] {
        ShowUpdateState(QStringLiteral("StateUpdateFail"), QString::fromLatin1(kStatusRed));
        btClose_->setEnabled(true);
      });
}

void VerWnd::ShowUpdateState(const QString& stateKey, const QString& colour) {
  lbVerState_->setText(VT(U(stateKey)));
  // The skin's font stays; the colour follows the state.
  lbVerState_->setStyleSheet(stateStyle_ + QStringLiteral(" color: %1;").arg(Rgb(colour)));
}

void VerWnd::UpdateEnded(UpdateOutcome outcome) {
  switch (outcome) {
    case UpdateOutcome::Started:
      done(1);
      options_.endProgram();
      return;
    case UpdateOutcome::Closed:
      done(1);
      return;
    case UpdateOutcome::ByPackageManager:
      lbVerState_->setText(VT("StateUpdateByPackage") + " " + Q(DownloadPage()));
      break;
    case UpdateOutcome::Failed:
      // The running version is untouched: the user may try again, or close the window.
      SetUpdateButton(true);
      btExeUpdate_->setEnabled(true);
      break;
  }
  btClose_->setEnabled(true);
}

void VerWnd::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
      if (btClose_->isEnabled()) done(2);
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return;
    default:
      SkinDialog::keyPressEvent(event);
  }
}

void OpenVerWnd(QWidget* owner, const UpdateStatus& known) {
  // The background check writes the shared fields while it runs; until it has ended the
  // window makes its own check.
  UpdateStatus passed;
  if (!Workers().IsBusy(WorkerKind::VersionCheck) && known.hasNew) passed = known;
  VerWnd wnd(passed, {}, owner);
  wnd.exec();
}

}  // namespace corvane::gui
