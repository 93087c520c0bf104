// The signing tab's runs: the engine's sign and verify runs on the sign/verify worker, their
// rows, messages and prompts brought to the window.
#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTreeView>

#include "base/run_log.h"
#include "base/worker_registry.h"
#include "gui/cert_dialogs.h"
#include "gui/cross_cert_wnd.h"
#include "gui/gui_texts.h"
#include "gui/gui_wnd.h"
#include "gui/skin_loader.h"

namespace corvane::gui {

SignRunSettings CGuiWnd::CurrentSettings() const {
  SignRunSettings settings;
  settings.password = U(edPswd_->text());
  settings.kernelSign = opKernelSign_->isChecked();
  settings.append = opAppendSig_->isChecked();
  settings.visiblePauses = true;
  return settings;
}

void CGuiWnd::StartSignRun() {
  lbGlobalErr_->clear();
  if (Workers().IsBusy(WorkerKind::SignVerify)) return;  // a second click: one run only
  if (!session_->StartSignRun(signRows_.Paths(), CurrentSettings(), *signBridge_) &&
      !Workers().IsBusy(WorkerKind::SignVerify)) {
    LogError("%s, %s", "CGuiWnd::StartSignRun", "undefined");
    SetMessage(T("UiStateUnknownErr"));
  }
}

void CGuiWnd::StartVerifyRun() {
  const std::vector<std::string> paths = signRows_.Paths();
  if (paths.empty() || Workers().IsBusy(WorkerKind::SignVerify)) return;
  if (!session_->StartVerifyRun(paths, CurrentSettings(), *signBridge_) &&
      !Workers().IsBusy(WorkerKind::SignVerify)) {
    LogError("%s, %s", "CGuiWnd::StartVerifyRun", "undefined");
    SetMessage(T("UiStateUnknownErr"));
  }
}

void CGuiWnd::EnableSignControls(bool on) {
  for (const char* name : {"btSelPfx", "btSelStoreCert", "btAdd", "btAddFolder", "btDel",
                           "btDelAll", "opGenrlSign", "opKernelSign", "opAppendSig", "btExe"})
    Control<QWidget>(root_, name)->setEnabled(on);
  lstSignFile_->viewport()->setAttribute(Qt::WA_TransparentForMouseEvents, !on);
}

void CGuiWnd::OnSignRowChanged(qulonglong row, RowState state, const QString& text) {
  signModel_->SetRow(row, state, U(text));
  std::size_t done = 0;
  for (const SignTask& task : signModel_->rows())
    if (task.rowState != RowState::Waiting && task.rowState != RowState::Scanning &&
        task.rowState != RowState::Signing)
      ++done;
  runDone_ = done;
  pbSignProgress_->setValue(static_cast<int>(std::min(done, runRows_)));
}

QString CGuiWnd::RunCrossCertWnd(const ChainList& chain) {
  CrossCertWnd wnd(
      chain,
      [this] {
        return options_.services.pickFile
                   ? options_.services.pickFile(this,
                                                QStringLiteral("cer(*.cer,*.crt) (*.cer *.crt)"))
                   : QString();
      },
      [this](const QString& url) {
        if (options_.services.openUrl) options_.services.openUrl(url);
      },
      this);
  wnd.exec();
  return wnd.chosenPath();
}

std::optional<QString> CGuiWnd::AskPin(const QString& tokenLabel) {
  PinDialog dialog(tokenLabel, this);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.pin();
}

}  // namespace corvane::gui
