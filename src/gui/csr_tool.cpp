#include "gui/csr_tool.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <span>

#include "base/run_log.h"
#include "base/worker_registry.h"
#include "cert/pkcs11_modules.h"
#include "csr/country_list.h"
#include "csr/key_store_csr.h"
#include "gui/gui_texts.h"
#include "gui/run_bridge.h"
#include "gui/skin_loader.h"
#include "gui/tab_support.h"

namespace corvane::gui {
namespace {

constexpr const char* kCodeSignRows[] = {"lbIssuerName", "edIssuerName", "lbUnitName1",
                                         "edUnitName1"};
constexpr const char* kClientRows[] = {"lbCommonName", "edCommonName", "lbEmail", "edEmail"};
constexpr const char* kSslRows[] = {"lbDomainName",   "edDomainName",   "lbUnitName2",
                                    "edUnitName2",    "lbNationalName", "cmbNationalName",
                                    "edNationalCode", "lbKindlyTip"};

std::string FieldText(QWidget* root, const char* name) {
  return U(Control<QLineEdit>(root, name)->text());
}

}  // namespace

CCSRTool::CCSRTool(PlatformServices services, std::vector<std::string> modules, QWidget* container)
    : QWidget(container), services_(std::move(services)), modules_(std::move(modules)) {
  setObjectName(QStringLiteral("CSRTool"));
  CsrToolTexts();  // the texts are read once, when the tab is made
  uiThread_ = MakeTabBridge(this);
  root_ = LoadSkin(QStringLiteral("CSRTool"), this);
  if (!root_) return;  // a layout that cannot be built leaves the tab empty
  FindControls();
  InitControls();
  ConnectNotifications();
}

void CCSRTool::FindControls() {
  opWinCSP_ = Control<QAbstractButton>(root_, "opWinCSP");
  opOpenSSL_ = Control<QAbstractButton>(root_, "opOpenSSL");
  opClientCert_ = Control<QAbstractButton>(root_, "opClientCert");
  opCodeSignCert_ = Control<QAbstractButton>(root_, "opCodeSignCert");
  opSSLCert_ = Control<QAbstractButton>(root_, "opSSLCert");
  opPVKFile_ = Control<QAbstractButton>(root_, "opPVKFile");
  lbPVKFile_ = Control<QLabel>(root_, "lbPVKFile");
  edPVKFile_ = Control<QLineEdit>(root_, "edPVKFile");
  btSavePVK_ = Control<QPushButton>(root_, "btSavePVK");
  cmbCSPSel_ = Control<QComboBox>(root_, "cmbCSPSel");
  edCSPSel_ = Control<QLineEdit>(root_, "edCSPSel");
  cmbKeyLen_ = Control<QComboBox>(root_, "cmbKeyLen");
  cmbNationalName_ = Control<QComboBox>(root_, "cmbNationalName");
  edNationalCode_ = Control<QLineEdit>(root_, "edNationalCode");
  lbOperRet_ = Control<QLabel>(root_, "lbOperRet");
  btGenCSR_ = Control<QPushButton>(root_, "btGenCSR");
  btCheckCSR_ = Control<QPushButton>(root_, "btCheckCSR");
  redCSR_ = Control<QPlainTextEdit>(root_, "redCSR");
  redMainCSR_ = Control<QPlainTextEdit>(root_, "redMainCSR");
  for (auto rows :
       {std::span<const char* const>(kCodeSignRows), std::span<const char* const>(kClientRows),
        std::span<const char* const>(kSslRows)})
    for (const char* name : rows) Control<QWidget>(root_, name);
  for (const char* name : {"btCopy", "btPaste", "btClear"}) Control<QPushButton>(root_, name);
}

void CCSRTool::InitControls() {
  auto* mode = new QButtonGroup(this);  // "CSRGenMode"
  mode->addButton(opWinCSP_);
  mode->addButton(opOpenSSL_);
  auto* type = new QButtonGroup(this);  // "CertType"
  type->addButton(opClientCert_);
  type->addButton(opCodeSignCert_);
  type->addButton(opSSLCert_);
  opWinCSP_->setChecked(true);
  opCodeSignCert_->setChecked(true);

  if (kLegacyPlatform) {
    opPVKFile_->show();
    opPVKFile_->setEnabled(false);
  } else {
    lbPVKFile_->show();
  }
  edPVKFile_->setEnabled(false);

  for (const Country& country : kCountries)
    cmbNationalName_->addItem(QStringLiteral(" ") + QString::fromLatin1(country.name));
  cmbNationalName_->setCurrentIndex(static_cast<int>(kDefaultCountryIndex));
  edNationalCode_->setMaxLength(2);
  edNationalCode_->setText(QString::fromLatin1(kCountries[kDefaultCountryIndex].code));
  FillKeyStoreLists();
  PaintWorkerButtons({btGenCSR_, btCheckCSR_}, false);
}

void CCSRTool::FillKeyStoreLists() {
  cmbCSPSel_->clear();
  cmbKeyLen_->clear();
  std::vector<KeyStoreProvider> providers;
  try {
    KeyStore store(modules_.empty() ? ChosenPkcs11Modules() : modules_, nullptr);
    providers = KeyStoreProviders(store);
  } catch (const std::exception& e) {
    LogError("%s, %s", "CSRTool::EnumCsp", e.what());
  }
  for (const KeyStoreProvider& provider : providers) cmbCSPSel_->addItem(Q(provider.name));
  // The lengths of the first provider; without any provider the lengths OpenSSL makes, so
  // the OpenSSL mode still works on a machine without a token.
  const std::vector<std::string> lengths = providers.empty()
                                               ? std::vector<std::string>{"2048", "4096"}
                                               : KeyStoreKeyLengths(providers.front().maxKeyBits);
  for (const std::string& length : lengths) cmbKeyLen_->addItem(Q(length));
  if (cmbCSPSel_->count() > 0) cmbCSPSel_->setCurrentIndex(0);
  if (cmbKeyLen_->count() > 0) cmbKeyLen_->setCurrentIndex(0);
}

void CCSRTool::ConnectNotifications() {
  for (QPushButton* button : root_->findChildren<QPushButton*>()) {
    const QString name = button->objectName();
    connect(button, &QAbstractButton::clicked, this, [this, name] { OnClick(name); });
  }
  for (QAbstractButton* option :
       {opWinCSP_, opOpenSSL_, opClientCert_, opCodeSignCert_, opSSLCert_}) {
    const QString name = option->objectName();
    connect(option, &QAbstractButton::toggled, this, [this, name](bool on) {
      lbOperRet_->clear();
      if (on) OnOptionSelected(name);
    });
  }
  for (QComboBox* list : {cmbCSPSel_, cmbKeyLen_})
    connect(list, &QComboBox::currentIndexChanged, lbOperRet_, &QLabel::clear);
  connect(cmbNationalName_, &QComboBox::currentIndexChanged, this, &CCSRTool::OnCountrySelected);
  for (QLineEdit* edit : root_->findChildren<QLineEdit*>()) {
    if (edit == edNationalCode_) continue;
    connect(edit, &QLineEdit::textChanged, lbOperRet_, &QLabel::clear);
  }
  connect(edNationalCode_, &QLineEdit::textChanged, this, &CCSRTool::OnCodeTyped);
}

void CCSRTool::OnOptionSelected(const QString& option) {
  auto show = [this](std::span<const char* const> names, bool visible) {
    for (const char* name : names) Control<QWidget>(root_, name)->setVisible(visible);
  };
  if (option == "opWinCSP") {
    if (kLegacyPlatform) {
      lbPVKFile_->hide();
      opPVKFile_->show();
      opPVKFile_->setEnabled(false);
    } else {
      lbPVKFile_->show();
      opPVKFile_->hide();
    }
    edPVKFile_->clear();
    btSavePVK_->setEnabled(false);
    cmbCSPSel_->show();
    edCSPSel_->hide();
  } else if (option == "opOpenSSL") {
    lbPVKFile_->show();
    opPVKFile_->hide();
    edPVKFile_->clear();
    btSavePVK_->setEnabled(true);
    cmbCSPSel_->hide();
    edCSPSel_->show();
  } else if (option == "opClientCert") {
    show(kCodeSignRows, false);
    show(kSslRows, false);
    show(kClientRows, true);
  } else if (option == "opCodeSignCert") {
    show(kSslRows, false);
    show(kClientRows, false);
    show(kCodeSignRows, true);
  } else if (option == "opSSLCert") {
    show(kCodeSignRows, false);
    show(kClientRows, false);
    show(kSslRows, true);
  }
}

void CCSRTool::OnCountrySelected(int index) {
  lbOperRet_->clear();
  if (index < 0 || static_cast<std::size_t>(index) >= kCountries.size()) return;
  edNationalCode_->setText(QString::fromLatin1(kCountries[static_cast<std::size_t>(index)].code));
}

void CCSRTool::OnCodeTyped(const QString& text) {
  lbOperRet_->clear();
  const CodeTyping typing = corvane::OnCodeTyped(U(text));
  if (typing.clear) {
    edNationalCode_->clear();
  } else if (typing.select) {
    cmbNationalName_->setCurrentIndex(static_cast<int>(*typing.select));
  }
}

void CCSRTool::OnClick(const QString& s) {
  lbOperRet_->clear();
  if (s == "btSavePVK") {
    if (!services_.saveFile) return;
    const QString path =
        services_.saveFile(window(), QStringLiteral("PVK Files (*.pvk)"), QStringLiteral("key"));
    if (path.isEmpty()) return;
    edPVKFile_->setText(path);
    lbOperRet_->clear();
  } else if (s == "btGenCSR") {
    StartGeneration();
  } else if (s == "btCheckCSR") {
    StartCheck();
  } else if (s == "btCopy") {
    CopyText(redCSR_);
  } else if (s == "btPaste") {
    PasteText(redCSR_);
  } else if (s == "btClear") {
    redCSR_->clear();
  }
}

CsrKind CCSRTool::SelectedKind() const {
  if (opClientCert_->isChecked()) return CsrKind::Client;
  if (opSSLCert_->isChecked()) return CsrKind::Ssl;
  return CsrKind::CodeSigning;
}

CsrFields CCSRTool::ReadFields() const {
  CsrFields f;
  f.publisherName = FieldText(root_, "edIssuerName");
  f.unitName1 = FieldText(root_, "edUnitName1");
  f.commonName = FieldText(root_, "edCommonName");
  f.email = FieldText(root_, "edEmail");
  f.domainName = FieldText(root_, "edDomainName");
  f.unitName2 = FieldText(root_, "edUnitName2");
  f.countryCode = FieldText(root_, "edNationalCode");
  return f;
}

void CCSRTool::WorkerRunning(bool running) {
  PaintWorkerButtons({btGenCSR_, btCheckCSR_}, running);
}

void CCSRTool::ShowMessage(const UiMessage& message) {
  ShowStatus(lbOperRet_, CsrToolTexts(), message);
}

void CCSRTool::ShowOutcome(const CsrGenerationOutcome& outcome) {
  if (outcome.generated.message.ok()) {
    redCSR_->setPlainText(Q(outcome.generated.requestPem));
    redMainCSR_->setPlainText(Q(outcome.check.resultText));
  }
  ShowMessage(outcome.message);
}

void CCSRTool::StartGeneration() {
  const bool openSsl = opOpenSSL_->isChecked();
  const CsrKind kind = SelectedKind();
  const CsrFields fields = ReadFields();
  const std::string keyLength = U(cmbKeyLen_->currentText());
  const std::string keyFile = U(edPVKFile_->text());
  const std::string provider = U(cmbCSPSel_->currentText());
  const std::vector<std::string> modules = modules_.empty() ? ChosenPkcs11Modules() : modules_;
  QPointer<CCSRTool> self(this);
  RunBridge* bridge = uiThread_;
  auto post = [self](std::function<void(CCSRTool&)> change) {
    QMetaObject::invokeMethod(
        self.data(),
        [self, change] {
          if (self) change(*self);
        },
        Qt::QueuedConnection);
  };
  WorkerRunning(true);
  auto body = [=](std::stop_token) {
    const SkinTexts& texts = CsrToolTexts();
    const UiProgress progress = [post](const UiMessage& m) {
      post([m](CCSRTool& tab) { tab.ShowMessage(m); });
    };
    try {
      CsrGenerationOutcome outcome;
      if (openSsl) {
        outcome = RunCsrGeneration({kind, fields, keyLength, keyFile}, texts, progress);
      } else {
        KeyStore store(modules, nullptr);
        const PinPrompt prompt = [bridge](const std::string& label) {
          return bridge->AskPin(label);
        };
        const KeyStoreRequest request =
            GenerateKeyStore(store, provider, keyLength, kind, fields, prompt, progress);
        outcome = CheckGenerated(ToGenerateResult(request), texts);
      }
      post([outcome](CCSRTool& tab) { tab.ShowOutcome(outcome); });
    } catch (const std::exception& e) {
      LogError("%s, %s", "CSRTool::GenerateCSRThread", e.what());
      post([](CCSRTool& tab) { tab.ShowMessage(UiMessage::Red("UiTaskStateGenerateCSRFailed")); });
    }
  };
  const bool started = Workers().Launch(WorkerKind::CsrGenerate, body, [post] {
    post([](CCSRTool& tab) {
      tab.WorkerRunning(false);
      emit tab.workerFinished();
    });
  });
  // Busy: the running worker gives the buttons back when it ends.
  if (!started && !Workers().IsBusy(WorkerKind::CsrGenerate)) {
    WorkerRunning(false);
    LogError("%s, %s", "CSRTool::GenerateCSR", "undefined");
  }
}

void CCSRTool::StartCheck() {
  const std::string request = U(redCSR_->toPlainText());
  QPointer<CCSRTool> self(this);
  WorkerRunning(true);
  auto body = [self, request](std::stop_token) {
    CsrCheckResult result;
    bool failed = false;
    try {
      result = CheckCsr(request, CsrToolTexts());
    } catch (const std::exception& e) {
      LogError("%s, %s", "CSRTool::CheckCSRThread", e.what());
      failed = true;
    }
    QMetaObject::invokeMethod(
        self.data(),
        [self, result, failed] {
          if (!self) return;
          self->redMainCSR_->setPlainText(Q(result.resultText));
          self->ShowMessage(failed ? UiMessage::Red("UiTaskStateCheckCsrFailed") : result.message);
        },
        Qt::QueuedConnection);
  };
  const bool started = Workers().Launch(WorkerKind::CsrCheck, body, [self] {
    QMetaObject::invokeMethod(
        self.data(),
        [self] {
          if (!self) return;
          self->WorkerRunning(false);
          emit self->workerFinished();
        },
        Qt::QueuedConnection);
  });
  // Busy: the running worker gives the buttons back when it ends.
  if (!started && !Workers().IsBusy(WorkerKind::CsrCheck)) {
    WorkerRunning(false);
    LogError("%s, %s", "CSRTool::CheckCSR", "undefined");
  }
}

}  // namespace corvane::gui
