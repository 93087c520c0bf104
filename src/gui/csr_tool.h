// The CSR tab: a request for a code-signing, client or SSL certificate, its key made by
// OpenSSL into a file or on a token of the key store, and the check of a pasted request. The
// tab builds its controls from the layout "CSRTool" into the main window's container; the
// generation and the check run on the registry's workers and come back as queued calls.
#pragma once

#include <QWidget>
#include <string>
#include <vector>

#include "csr/csr_generate.h"
#include "gui/platform_services.h"

class QAbstractButton;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace corvane::gui {

class RunBridge;

class CCSRTool : public QWidget {
  Q_OBJECT

 public:
  // `modules`: the PKCS #11 modules whose tokens are the key-store mode's providers.
  CCSRTool(PlatformServices services, std::vector<std::string> modules, QWidget* container);

  // Without a platform version to ask, the current key-store flavour is used.
  static constexpr bool kLegacyPlatform = false;

 signals:
  // A generation or check worker has ended and its outcome is on the tab.
  void workerFinished();

 private:
  void FindControls();
  void ConnectNotifications();
  void InitControls();
  void FillKeyStoreLists();

  void OnClick(const QString& sender);
  void OnOptionSelected(const QString& option);
  void OnCountrySelected(int index);
  void OnCodeTyped(const QString& text);

  CsrKind SelectedKind() const;
  CsrFields ReadFields() const;
  void StartGeneration();
  void StartCheck();
  void WorkerRunning(bool running);
  void ShowMessage(const UiMessage& message);
  void ShowOutcome(const CsrGenerationOutcome& outcome);

  PlatformServices services_;
  std::vector<std::string> modules_;
  QWidget* root_ = nullptr;
  RunBridge* uiThread_ = nullptr;

  QAbstractButton* opWinCSP_ = nullptr;
  QAbstractButton* opOpenSSL_ = nullptr;
  QAbstractButton* opClientCert_ = nullptr;
  QAbstractButton* opCodeSignCert_ = nullptr;
  QAbstractButton* opSSLCert_ = nullptr;
  QAbstractButton* opPVKFile_ = nullptr;
  QLabel* lbPVKFile_ = nullptr;
  QLineEdit* edPVKFile_ = nullptr;
  QPushButton* btSavePVK_ = nullptr;
  QComboBox* cmbCSPSel_ = nullptr;
  QLineEdit* edCSPSel_ = nullptr;
  QComboBox* cmbKeyLen_ = nullptr;
  QComboBox* cmbNationalName_ = nullptr;
  QLineEdit* edNationalCode_ = nullptr;
  QLabel* lbOperRet_ = nullptr;
  QPushButton* btGenCSR_ = nullptr;
  QPushButton* btCheckCSR_ = nullptr;
  QPlainTextEdit* redCSR_ = nullptr;
  QPlainTextEdit* redMainCSR_ = nullptr;
};

}  // namespace corvane::gui
