// The certificate tab: installing a certificate, joining a certificate and its key into a PFX
// file, and building an SPC file from a chain, each from files or from pasted PEM text. The
// tab builds its controls from the layout "CertTool" into the main window's container; the
// operation runs on the registry's certificate-tool worker.
#pragma once

#include <QWidget>
#include <string>
#include <vector>

#include "base/ui_message.h"
#include "gui/platform_services.h"

class QAbstractButton;
class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace corvane::gui {

class RunBridge;

class CCertTool : public QWidget {
  Q_OBJECT

 public:
  // `modules`: the PKCS #11 modules whose tokens receive a certificate beside its key.
  CCertTool(PlatformServices services, std::vector<std::string> modules, QWidget* container);

 signals:
  // The operation's worker has ended and its outcome is on the tab.
  void workerFinished();

 private:
  enum class Operation { Install, Pfx, Spc };

  void FindControls();
  void ConnectNotifications();
  void OnClick(const QString& sender);
  void OnOperationSelected(Operation operation);
  void OnPasteToggled(bool on);
  void PickInto(const char* edit, const QString& filter);

  Operation SelectedOperation() const;
  // The current operation's certificate row: its label, select button and edit.
  struct CertRow {
    QWidget* label;
    QWidget* button;
    QLineEdit* edit;
  };
  CertRow SelectedCertRow() const;

  void StartOperation();
  void ShowMessage(const UiMessage& message);

  PlatformServices services_;
  std::vector<std::string> modules_;
  QWidget* root_ = nullptr;
  RunBridge* uiThread_ = nullptr;

  QAbstractButton* opInstallCert_ = nullptr;
  QAbstractButton* opGenPFX_ = nullptr;
  QAbstractButton* opSpcPkcs7_ = nullptr;
  QAbstractButton* opPasteCert_ = nullptr;
  QPlainTextEdit* redCert_ = nullptr;
  QLabel* lbOperRet_ = nullptr;
};

}  // namespace corvane::gui
