// The main window's certificate choice: a PFX file, a certificate of the token store, and the
// view of the chosen certificate.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "base/run_log.h"
#include "base/status.h"
#include "base/worker_registry.h"
#include "cert/pkcs11_modules.h"
#include "gui/cert_dialogs.h"
#include "gui/gui_texts.h"
#include "gui/gui_wnd.h"

namespace corvane::gui {

void CGuiWnd::ChoosePfx() {
  lbGlobalErr_->clear();
  if (!options_.services.pickFile) return;
  const QString path = options_.services.pickFile(this, QStringLiteral("PFX(*.pfx)"));
  if (path.isEmpty()) return;
  const CertificateChoice before = session_->choice();
  if (path.compare(Q(before.pfxPath), Qt::CaseInsensitive) != 0) edPswd_->clear();
  session_->ChoosePfx(U(path));
  edCert_->setText(path);
  lbPswd_->show();
  edPswd_->setEnabled(true);
  edPswd_->show();
}

std::shared_ptr<KeyStore> CGuiWnd::OpenKeyStore() {
  if (keyStore_) return keyStore_;
  const std::vector<std::string> modules =
      options_.pkcs11Modules.empty() ? ChosenPkcs11Modules() : options_.pkcs11Modules;
  RunBridge* bridge = signBridge_;
  keyStore_ = std::make_shared<KeyStore>(
      modules, [bridge](const std::string& label) { return bridge->AskPin(label); });
  session_->SetKeyStore(keyStore_);
  return keyStore_;
}

void CGuiWnd::StartStoreChoice() {
  lbGlobalErr_->clear();
  std::shared_ptr<KeyStore> store = OpenKeyStore();
  RunBridge* bridge = signBridge_;
  Workers().Launch(WorkerKind::StoreChoice, [this, store, bridge](std::stop_token) {
    try {
      const std::vector<StoreCertEntry> entries = SelectableCertificates(*store);
      std::optional<CertIdentity> chosen;
      bridge->OnUiThread([&] {
        StoreSelectDialog dialog(
            entries,
            [this, store](const StoreCertEntry& entry) {
              const TokenCertificate* cert =
                  store->FindByIdentity(entry.identity.issuerName, entry.identity.serialHex);
              if (!cert) return;
              CertViewer viewer(MakeCertificateView(cert->certificate, {}), this);
              viewer.exec();
            },
            this);
        if (dialog.exec() == QDialog::Accepted) chosen = dialog.chosen();
      });
      if (!chosen) throw ExceptionEx(StatusCode::Undefined);  // the dialog was cancelled
      if (chosen->issuerName.empty()) return;
      const CertIdentity identity = *chosen;
      QMetaObject::invokeMethod(this, [this, identity] {
        session_->ChooseStoreCertificate(identity);
        edCert_->setText(T("CertLibName") + Q(identity.subjectName));
        lbPswd_->hide();
        edPswd_->setEnabled(false);
        edPswd_->hide();
      });
    } catch (const std::exception& e) {
      LogError("%s, %s", "CGuiWnd::SelStoreCertThread", StatusText(e).c_str());
    }
  });
}

void CGuiWnd::StartCertView() {
  lbGlobalErr_->clear();
  const SignRunSettings settings = CurrentSettings();
  RunBridge* bridge = signBridge_;
  btShowCert_->setEnabled(false);
  const bool started =
      Workers().Launch(WorkerKind::CertView, [this, settings, bridge](std::stop_token) {
        std::optional<CertificateView> view;
        try {
          CertManager manager;
          if (session_->LoadChosenCert(manager, settings, *bridge)) {
            try {
              manager.BuildChain();
            } catch (const std::exception& e) {
              LogError("%s, %s", "CGuiWnd::ShowCertThread", StatusText(e).c_str());
            }
            view = MakeCertificateView(manager.certificate(), manager.chain());
          }
        } catch (const std::exception& e) {
          LogError("%s, %s", "CGuiWnd::ShowCertThread", StatusText(e).c_str());
        }
        QMetaObject::invokeMethod(this, [this, view] {
          btShowCert_->setEnabled(true);
          if (!view) return;
          CertViewer viewer(*view, this);
          viewer.exec();
        });
      });
  if (!started) btShowCert_->setEnabled(true);
}

}  // namespace corvane::gui
