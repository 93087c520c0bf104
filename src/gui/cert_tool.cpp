#include "gui/cert_tool.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <span>

#include "base/run_log.h"
#include "base/worker_registry.h"
#include "cert/pkcs11_modules.h"
#include "certtool/pfx_generate.h"
#include "certtool/spc_generate.h"
#include "gui/gui_texts.h"
#include "gui/run_bridge.h"
#include "gui/skin_loader.h"
#include "gui/tab_support.h"
#include "tasks/cert_tool_run.h"

namespace corvane::gui {
namespace {

constexpr const char* kInstallRows[] = {"lbCertFile_", "edCertFile_", "btCertFileSel_"};
constexpr const char* kPfxRows[] = {
    "lbCertFile",      "edCertFile", "btCertFileSel", "lbPrivateKey", "edPrivateKey2",
    "btPrivateKeySel", "lbPFXPwd",   "edPFXPwd",      "lbPwdConfirm", "edPwdConfirm"};
constexpr const char* kSpcRows[] = {"lbUserCert",   "edUserCert",   "btUserSel",    "lbUpperCert1",
                                    "edUpperCert1", "btUpperSel1",  "lbUpperCert2", "edUpperCert2",
                                    "btUpperSel2",  "lbUpperCert3", "edUpperCert3", "btUpperSel3"};

const QString kCertFilter = QStringLiteral("Certificate(*.cer *.crt *.pem)");

// The import wizard's question: where each certificate goes, then yes or no.
bool ConfirmInstall(const std::vector<InstallItem>& plan, QWidget* owner) {
  const bool chinese = CurrentUiLanguage() == UiLanguage::Chinese;
  QStringList lines;
  for (const InstallItem& item : plan) lines << Q(item.description);
  QMessageBox box(QMessageBox::Question,
                  chinese ? QString::fromUtf8("证书导入") : QStringLiteral("Certificate Import"),
                  (chinese ? QString::fromUtf8("安装这些证书吗？")
                           : QStringLiteral("Install these certificates?")) +
                      QStringLiteral("\n\n") + lines.join(QLatin1Char('\n')),
                  QMessageBox::Yes | QMessageBox::No, owner);
  box.setObjectName(QStringLiteral("InstallConfirm"));
  return box.exec() == QMessageBox::Yes;
}

}  // namespace

CCertTool::CCertTool(PlatformServices services, std::vector<std::string> modules,
                     QWidget* container)
    : QWidget(container), services_(std::move(services)), modules_(std::move(modules)) {
  setObjectName(QStringLiteral("CertTool"));
  CertToolTexts();  // the texts are read once, when the tab is made
  uiThread_ = MakeTabBridge(this);
  root_ = LoadSkin(QStringLiteral("CertTool"), this);
  if (!root_) return;  // a layout that cannot be built leaves the tab empty
  FindControls();
  ConnectNotifications();
  opInstallCert_->setChecked(true);
  OnOperationSelected(Operation::Install);
  for (const char* name : {"btCopy", "btPaste", "btClear"})
    Control<QWidget>(root_, name)->setEnabled(false);
  redCert_->setEnabled(false);
  PaintWorkerButtons({Control<QPushButton>(root_, "btExecuteOper")}, false);
}

void CCertTool::FindControls() {
  opInstallCert_ = Control<QAbstractButton>(root_, "opInstallCert");
  opGenPFX_ = Control<QAbstractButton>(root_, "opGenPFX");
  opSpcPkcs7_ = Control<QAbstractButton>(root_, "opSpcPkcs7");
  opPasteCert_ = Control<QAbstractButton>(root_, "opPasteCert");
  redCert_ = Control<QPlainTextEdit>(root_, "redCert");
  lbOperRet_ = Control<QLabel>(root_, "lbOperRet");
  for (auto rows : {std::span<const char* const>(kInstallRows),
                    std::span<const char* const>(kPfxRows), std::span<const char* const>(kSpcRows)})
    for (const char* name : rows) Control<QWidget>(root_, name);
  for (const char* name : {"btCopy", "btPaste", "btClear", "btExecuteOper"})
    Control<QPushButton>(root_, name);
  // Paths are entered only through their select buttons.
  for (const char* name : {"edCertFile_", "edCertFile", "edPrivateKey2", "edUserCert",
                           "edUpperCert1", "edUpperCert2", "edUpperCert3"})
    Control<QLineEdit>(root_, name)->setEnabled(false);
  auto* group = new QButtonGroup(this);  // "CertOperOpt"
  for (QAbstractButton* option : {opInstallCert_, opGenPFX_, opSpcPkcs7_}) group->addButton(option);
}

void CCertTool::ConnectNotifications() {
  for (QPushButton* button : root_->findChildren<QPushButton*>()) {
    const QString name = button->objectName();
    connect(button, &QAbstractButton::clicked, this, [this, name] { OnClick(name); });
  }
  const std::pair<QAbstractButton*, Operation> options[] = {{opInstallCert_, Operation::Install},
                                                            {opGenPFX_, Operation::Pfx},
                                                            {opSpcPkcs7_, Operation::Spc}};
  for (auto [option, operation] : options) {
    connect(option, &QAbstractButton::toggled, this, [this, op = operation](bool on) {
      lbOperRet_->clear();
      if (on) OnOperationSelected(op);
    });
  }
  connect(opPasteCert_, &QAbstractButton::toggled, this, [this](bool on) {
    lbOperRet_->clear();
    OnPasteToggled(on);
  });
}

CCertTool::Operation CCertTool::SelectedOperation() const {
  if (opGenPFX_->isChecked()) return Operation::Pfx;
  if (opSpcPkcs7_->isChecked()) return Operation::Spc;
  return Operation::Install;
}

CCertTool::CertRow CCertTool::SelectedCertRow() const {
  struct Names {
    const char* label;
    const char* button;
    const char* edit;
  };
  const Names names = [this]() -> Names {
    switch (SelectedOperation()) {
      case Operation::Pfx:
        return {"lbCertFile", "btCertFileSel", "edCertFile"};
      case Operation::Spc:
        return {"lbUserCert", "btUserSel", "edUserCert"};
      default:
        return {"lbCertFile_", "btCertFileSel_", "edCertFile_"};
    }
  }();
  return {Control<QWidget>(root_, names.label), Control<QWidget>(root_, names.button),
          Control<QLineEdit>(root_, names.edit)};
}

void CCertTool::OnOperationSelected(Operation operation) {
  auto show = [this](std::span<const char* const> names, bool visible) {
    for (const char* name : names) Control<QWidget>(root_, name)->setVisible(visible);
  };
  show(kInstallRows, operation == Operation::Install);
  show(kPfxRows, operation == Operation::Pfx);
  show(kSpcRows, operation == Operation::Spc);
  opPasteCert_->setText(Q(CertToolTexts().Get(operation == Operation::Spc ? "TitleOpPasterCert2"
                                                                          : "TitleOpPasterCert1")));
  const bool fromFile = !opPasteCert_->isChecked();
  const CertRow row = SelectedCertRow();
  row.label->setEnabled(fromFile);
  row.button->setEnabled(fromFile);
}

void CCertTool::OnPasteToggled(bool on) {
  const CertRow row = SelectedCertRow();
  row.label->setEnabled(!on);
  row.button->setEnabled(!on);
  if (on) {
    row.edit->clear();
  } else {
    redCert_->clear();
  }
  redCert_->setEnabled(on);
  for (const char* name : {"btCopy", "btPaste", "btClear"})
    Control<QWidget>(root_, name)->setEnabled(on);
}

void CCertTool::PickInto(const char* edit, const QString& filter) {
  if (!services_.pickFile) return;
  const QString path = services_.pickFile(window(), filter);
  if (!path.isEmpty()) Control<QLineEdit>(root_, edit)->setText(path);
}

void CCertTool::OnClick(const QString& s) {
  lbOperRet_->clear();
  if (s == "btCertFileSel_") {
    PickInto("edCertFile_", QStringLiteral("Certificate(*.cer *.spc *.crt *.pem)"));
  } else if (s == "btCertFileSel") {
    PickInto("edCertFile", kCertFilter);
  } else if (s == "btPrivateKeySel") {
    PickInto("edPrivateKey2", QStringLiteral("Private Key(*.pvk *.key *.pem *)"));
  } else if (s == "btUserSel") {
    PickInto("edUserCert", kCertFilter);
  } else if (s.startsWith(QStringLiteral("btUpperSel"))) {
    // Cancelling the dialog removes that upper certificate.
    const std::string edit = "edUpperCert" + U(s.right(1));
    Control<QLineEdit>(root_, edit.c_str())->clear();
    PickInto(edit.c_str(), kCertFilter);
  } else if (s == "btExecuteOper") {
    StartOperation();
  } else if (s == "btCopy") {
    CopyText(redCert_);
  } else if (s == "btPaste") {
    PasteText(redCert_);
  } else if (s == "btClear") {
    redCert_->clear();
  }
}

void CCertTool::ShowMessage(const UiMessage& message) {
  ShowStatus(lbOperRet_, CertToolTexts(), message);
}

void CCertTool::StartOperation() {
  auto text = [this](const char* name) { return U(Control<QLineEdit>(root_, name)->text()); };
  const Operation operation = SelectedOperation();
  const bool paste = opPasteCert_->isChecked();
  const std::string pasted = U(redCert_->toPlainText());
  const std::vector<std::string> modules = modules_.empty() ? ChosenPkcs11Modules() : modules_;

  InstallCertInput install{paste, pasted, text("edCertFile_"), ""};
  PfxGenerateInput pfx;
  pfx.pasteMode = paste;
  pfx.certText = pasted;
  pfx.certFile = text("edCertFile");
  pfx.keyFile = text("edPrivateKey2");
  pfx.password = text("edPFXPwd");
  pfx.confirmation = text("edPwdConfirm");
  SpcGenerateInput spc;
  spc.pasteMode = paste;
  spc.userText = pasted;
  spc.userFile = text("edUserCert");
  spc.upperFiles = {text("edUpperCert1"), text("edUpperCert2"), text("edUpperCert3")};

  // The save dialogs and the confirmation are answered on the UI thread while the worker waits.
  RunBridge* bridge = uiThread_;
  QPointer<CCertTool> self(this);
  auto saveAs = [bridge, self](QString filter, QString suffix) -> ChooseSavePath {
    return [=]() -> std::optional<std::string> {
      QString path;
      bridge->OnUiThread([&] {
        if (self && self->services_.saveFile)
          path = self->services_.saveFile(self->window(), filter, suffix);
      });
      if (path.isEmpty()) return std::nullopt;
      return U(path);
    };
  };
  pfx.chooseDestination = saveAs(QStringLiteral("PFX File(*.pfx)"), QStringLiteral("pfx"));
  spc.chooseDestination = saveAs(QStringLiteral("SPC File(*.spc)"), QStringLiteral("spc"));
  auto post = [self](std::function<void(CCertTool&)> change) {
    QMetaObject::invokeMethod(
        self.data(),
        [self, change] {
          if (self) change(*self);
        },
        Qt::QueuedConnection);
  };

  auto body = [=](std::stop_token) {
    const UiProgress progress = [post](const UiMessage& m) {
      post([m](CCertTool& tab) { tab.ShowMessage(m); });
    };
    try {
      UiMessage outcome;
      bool clearPasswords = false;
      switch (operation) {
        case Operation::Install: {
          KeyStore store(modules,
                         [bridge](const std::string& label) { return bridge->AskPin(label); });
          auto confirm = [bridge, self](const std::vector<InstallItem>& plan) {
            bool yes = false;
            bridge->OnUiThread([&] { yes = self && ConfirmInstall(plan, self->window()); });
            return yes;
          };
          outcome = InstallCert(install, &store, confirm, progress);
          break;
        }
        case Operation::Pfx: {
          PfxGenerateResult result = GeneratePfx(pfx, progress);
          outcome = result.message;
          clearPasswords = result.clearPasswords;
          break;
        }
        case Operation::Spc:
          outcome = GenerateSpc(spc, progress);
          break;
      }
      post([outcome, clearPasswords](CCertTool& tab) {
        if (clearPasswords) {
          Control<QLineEdit>(tab.root_, "edPFXPwd")->clear();
          Control<QLineEdit>(tab.root_, "edPwdConfirm")->clear();
        }
        tab.ShowMessage(outcome);
      });
    } catch (const std::exception& e) {
      LogError("%s, %s", "CertTool::OperThread", e.what());
      post([](CCertTool& tab) { tab.lbOperRet_->clear(); });
    }
  };
  const bool started = Workers().Launch(WorkerKind::CertTool, body, [post] {
    post([](CCertTool& tab) { emit tab.workerFinished(); });
  });
  if (!started && !Workers().IsBusy(WorkerKind::CertTool))
    LogError("%s, %s", "CertTool::ExecuteOper", "undefined");
}

}  // namespace corvane::gui
