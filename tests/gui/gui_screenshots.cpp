// Renders every window of the desktop program to PNG files, after real actions: lists filled,
// a signing run finished, the prompts and dialogs as a run or a button opens them. Run by
// scripts/screenshots.sh (once per language) under Xvfb; not a test of its own.
//
//   CORVANE_SCREENSHOT_DIR  folder the PNG files go to (required)
//   CORVANE_DEMO_FILES      files to sign, separated by ':' (default: copies of test images)
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>
#include <QTreeView>
#include <filesystem>
#include <fstream>

#include "base/language.h"
#include "base/own_version.h"
#include "base/worker_registry.h"
#include "cert/store_selection.h"
#include "crypto/x509_names.h"
#include "fixtures/scoped_env.h"
#include "fixtures/signing_environment.h"
#include "fixtures/temp_dir.h"
#include "fixtures/test_pki.h"
#include "fixtures/token_signer.h"
#include "gui/cert_dialogs.h"
#include "gui/cert_tool.h"
#include "gui/cross_cert_wnd.h"
#include "gui/csr_tool.h"
#include "gui/feedback_wnd.h"
#include "gui/file_properties.h"
#include "gui/timestamp_hosts_wnd.h"
#include "gui/tip_wnd.h"
#include "gui/ver_wnd.h"
#include "gui_test_support.h"
#include "net/server_hosts.h"
#include "servers/network_services.h"

using corvane::gui::CGuiWnd;

namespace {

QString Lang() {
  return corvane::CurrentUiLanguage() == corvane::UiLanguage::Chinese ? "zh" : "en";
}

void Save(QWidget* w, const QString& name) {
  QApplication::processEvents();
  const QString dir = qEnvironmentVariable("CORVANE_SCREENSHOT_DIR");
  const QString path = dir + "/" + Lang() + "-" + name + ".png";
  if (!w->grab().save(path)) qFatal("cannot write %s", qPrintable(path));
  qInfo("wrote %s", qPrintable(path));
}

void Click(QWidget* window, const char* name) {
  QTest::mouseClick(window->findChild<QAbstractButton*>(name), Qt::LeftButton);
}

}  // namespace

class GuiScreenshots : public QObject {
  Q_OBJECT

 private slots:
  void renderEveryWindow() {
    if (qEnvironmentVariable("CORVANE_SCREENSHOT_DIR").isEmpty())
      QSKIP("set CORVANE_SCREENSHOT_DIR");
    corvane::test::TempDir programDir;
    qputenv("CORVANECODE_PROGRAM_DIR", QByteArray::fromStdString(programDir.path()));
    qputenv("CORVANECODE_LOG_HOST", "127.0.0.1:1");
    qputenv("CORVANECODE_UPDATE_HOST", "127.0.0.1:1");
    corvane::test::SigningEnvironment env;
    // The test roots are trusted: no run warns of a chain that reaches no trusted root.
    corvane::test::ScopedEnv trusted("CORVANECODE_TRUST", env.trustBundle());
    corvane::test::TokenWorld world;
    {
      std::shared_ptr<corvane::KeyStore> store = world.OpenStore();
      corvane::TokenKey key = store->GenerateRsaKey(0, 2048, "code signing");
      corvane::test::KeyedCert issuing = corvane::test::Authority("issuing-a1");
      store->PutCertificate(0, issuing.cert.get(), "", "issuing CA");
      corvane::test::CertSpec spec;
      spec.commonName = "Demo Token Signer";
      world.PutCert(*store, spec, issuing, key.key, key.id);
    }

    QStringList files;
    for (const QString& f :
         qEnvironmentVariable("CORVANE_DEMO_FILES").split(':', Qt::SkipEmptyParts))
      files << f;
    if (files.isEmpty()) {
      for (const char* name : {"console-x64.exe", "library-x86.dll", "driver-x64.sys"})
        files << QString::fromStdString(env.CopyImage(name));
      const std::string text = env.dir() / "notes.txt";
      std::ofstream(text) << "not signable";
      files << QString::fromStdString(text);
    }

    corvane::test::ScriptedDesktop desktop;
    corvane::gui::GuiOptions options;
    options.services = desktop.Services();
    options.startBackgroundWorkers = false;
    options.pkcs11Modules = {corvane::test::kSoftHsmModule};
    CGuiWnd wnd(std::move(options));
    wnd.show();
    QVERIFY(QTest::qWaitForWindowExposed(&wnd));
    Save(&wnd, "main-start");

    desktop.file = QString::fromStdString(env.rootA().pfxPath);
    Click(&wnd, "btSelPfx");
    wnd.findChild<QLineEdit*>("edPswd")->setText(QString::fromStdString(env.rootA().password));
    desktop.files = files;
    Click(&wnd, "btAdd");
    Save(&wnd, "main-sign-list");

    corvane::test::ModalAnswerer answerer;
    answerer.On("TipWnd", [](QWidget* tip) {
      Save(tip, "tip-advice");
      Click(tip, "btOk");
    });
    bool midRun = false;
    connect(&wnd.signList(), &QAbstractItemModel::dataChanged, this, [&] {
      const auto& rows = wnd.signList().rows();
      if (!midRun && rows.size() > 1 && corvane::IsComplete(rows[0].rowState) &&
          rows[1].rowState != corvane::RowState::Waiting) {
        midRun = true;
        Save(&wnd, "main-sign-running");
      }
    });
    QSignalSpy finished(&wnd, &CGuiWnd::signRunFinished);
    Click(&wnd, "btExe");
    QVERIFY(finished.wait(180000));
    Save(&wnd, "main-sign-finished");

    corvane::SetTrustLocations({env.trustBundle()});
    answerer.On("FilePropertiesDialog", [](QWidget* d) {
      Save(d, "file-properties");
      Click(d, "btClose");
    });
    auto* view = wnd.findChild<QTreeView*>("lstSignFile");
    const QPoint cell = view->visualRect(wnd.signList().index(0, 0)).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell);

    answerer.On("PinDialog", [](QWidget* d) {
      Save(d, "pin-prompt");
      d->findChild<QLineEdit*>("edPin")->setText(corvane::test::kTokenPin);
      Click(d, "btOk");
    });
    answerer.On("CertViewer", [](QWidget* d) {
      Save(d, "cert-viewer-store");
      Click(d, "btClose");
    });
    answerer.On("StoreSelectDialog", [](QWidget* d) {
      Save(d, "store-selection");
      Click(d, "btView");
      QTimer::singleShot(1500, d, [d] { Click(d, "btOk"); });
    });
    Click(&wnd, "btSelStoreCert");
    QTRY_VERIFY_WITH_TIMEOUT(!wnd.session().choice().pfxChosen, 60000);
    Save(&wnd, "main-store-chosen");

    desktop.file = QString::fromStdString(env.rootA().pfxPath);
    Click(&wnd, "btSelPfx");
    wnd.findChild<QLineEdit*>("edPswd")->setText(QString::fromStdString(env.rootA().password));
    answerer.On("CertViewer", [](QWidget* d) {
      Save(d, "cert-viewer-pfx");
      Click(d, "btClose");
    });
    Click(&wnd, "btShowCert");
    QTRY_VERIFY_WITH_TIMEOUT(answerer.seen("CertViewer") == 2, 60000);
    QTRY_VERIFY_WITH_TIMEOUT(wnd.findChild<QWidget*>("btShowCert")->isEnabled(), 60000);

    Click(&wnd, "btTabCSROper");
    Save(&wnd, "main-csr-tab");
    {
      // An SSL request made in OpenSSL mode, checked.
      QWidget* tab = &wnd.csrTool();
      tab->findChild<QAbstractButton*>("opOpenSSL")->setChecked(true);
      tab->findChild<QAbstractButton*>("opSSLCert")->setChecked(true);
      tab->findChild<QLineEdit*>("edDomainName")->setText("www.example.cn");
      tab->findChild<QLineEdit*>("edUnitName2")->setText("Example Org");
      desktop.saveAs = QString::fromStdString(env.dir() / "request.key");
      Click(tab, "btSavePVK");
      QSignalSpy done(&wnd.csrTool(), &corvane::gui::CCSRTool::workerFinished);
      Click(tab, "btGenCSR");
      QVERIFY(done.wait(60000));
      Save(&wnd, "main-csr-generated");
    }
    Click(&wnd, "btTabCertOper");
    Save(&wnd, "main-cert-tab");
    {
      // The SPC operation refused for a missing upper certificate.
      QWidget* tab = &wnd.certTool();
      tab->findChild<QAbstractButton*>("opSpcPkcs7")->setChecked(true);
      desktop.file = QString::fromStdString(env.dir() / "user.pem");
      corvane::test::WriteFileBytes(desktop.file.toStdString(),
                                    corvane::test::ToPem(env.rootA().leaf.cert.get()));
      Click(tab, "btUserSel");
      desktop.file = QString::fromStdString(env.dir() / "missing-ca.pem");
      Click(tab, "btUpperSel1");
      QSignalSpy done(&wnd.certTool(), &corvane::gui::CCertTool::workerFinished);
      Click(tab, "btExecuteOper");
      QVERIFY(done.wait(60000));
      Save(&wnd, "main-cert-spc-refused");
      tab->findChild<QAbstractButton*>("opPasteCert")->setChecked(true);
      tab->findChild<QAbstractButton*>("opGenPFX")->setChecked(true);
      tab->findChild<QPlainTextEdit*>("redCert")->setPlainText(
          QString::fromStdString(corvane::test::ToPem(env.rootA().leaf.cert.get())));
      Save(&wnd, "main-cert-pfx-paste");
    }
    Click(&wnd, "btTabCabPack");
    Save(&wnd, "main-tool-empty");
    wnd.DropPaths({QString::fromStdString(env.dir().path())});
    Save(&wnd, "main-tool-list");
    Click(&wnd, "btTabSign");

    // The timestamp servers, one of them refused.
    {
      corvane::gui::TimestampHostsWnd hosts(&wnd);
      hosts.show();
      QVERIFY(QTest::qWaitForWindowExposed(&hosts));
      hosts.findChild<QPlainTextEdit*>("redTimestampHosts")
          ->setPlainText("timestamp.example.com\n127.0.0.1:3180\nhttp://wrong/");
      Click(&hosts, "btSaveSetting");
      Save(&hosts, "timestamp-hosts");
      hosts.close();
    }

    // The cross-certificate window with a refusal shown, and the long prompt.
    corvane::ChainList chain;
    corvane::gui::CrossCertWnd cross(
        chain, [] { return QString(); }, [](const QString&) {}, &wnd);
    cross.show();
    QVERIFY(QTest::qWaitForWindowExposed(&cross));
    Click(&cross, "btSign");
    Save(&cross, "cross-cert");
    cross.close();
    corvane::gui::TipWnd longTip(
        QString::fromStdString(
            corvane::GetSkinLan("CGuiWnd", std::vector<const char*>{"TipMsgNotConn"})
                .Get("TipMsgNotConn")) +
            " " +
            QString::fromStdString(
                corvane::GetSkinLan("CGuiWnd", std::vector<const char*>{"UiDoubleCertTip"})
                    .Get("UiDoubleCertTip")),
        &wnd);
    longTip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&longTip));
    Save(&longTip, "tip-long");
    longTip.close();
    wnd.ShowClosingTip(QString::fromStdString(
        corvane::GetSkinLan("CGuiWnd", std::vector<const char*>{"UiGloExcutingAutoClose"})
            .Get("UiGloExcutingAutoClose")));
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == "ClosingTip" && w->isVisible()) {
        if (!QTest::qWaitForWindowExposed(w)) qWarning("closing prompt not exposed");
        Save(w, "tip-closing");
        w->close();
      }
  }

  // The version window offering a newer release, and the feedback window after a failed and
  // after a successful submission, over the test download and log servers.
  void renderSideWindows() {
    if (qEnvironmentVariable("CORVANE_SCREENSHOT_DIR").isEmpty())
      QSKIP("set CORVANE_SCREENSHOT_DIR");
    corvane::test::TempDir programDir, certDir;
    qputenv("CORVANECODE_PROGRAM_DIR", QByteArray::fromStdString(programDir.path()));
    const corvane::test::LoopbackCertificates certificates =
        corvane::test::WriteLoopbackCertificates(certDir.path());
    corvane::SetCaBundlePath(certificates.caCert);
    corvane::test::DownloadServer download(certificates);
    download.SetDocument(corvane::test::UpdateDocument::Normal, "99.0.0.1");
    corvane::SetUpdateHost(download.hostPort());

    corvane::gui::VerWnd version({}, {}, nullptr);
    version.show();
    QVERIFY(QTest::qWaitForWindowExposed(&version));
    QTRY_VERIFY_WITH_TIMEOUT(version.findChild<QWidget*>("btExeUpdate")->isEnabled(), 15000);
    Save(&version, "version-new");
    version.close();
    download.SetDocument(corvane::test::UpdateDocument::Normal, corvane::OwnVersion());
    corvane::gui::VerWnd latest({}, {}, nullptr);
    latest.show();
    QVERIFY(QTest::qWaitForWindowExposed(&latest));
    QTRY_VERIFY_WITH_TIMEOUT(latest.findChild<QWidget*>("btExeUpdate")->isEnabled(), 15000);
    Save(&latest, "version-latest");
    latest.close();

    corvane::SetLogHost("127.0.0.1:1");
    auto feedback =
        std::make_unique<corvane::gui::FeedBackWnd>(corvane::gui::FeedbackWndOptions{}, nullptr);
    feedback->show();
    feedback->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(feedback.get()));
    Save(feedback.get(), "feedback-start");
    auto* desc = feedback->findChild<QTextEdit*>("edtDesc");
    desc->setFocus();
    QTest::keyClicks(desc, "Signing stops at the second file.");
    Click(feedback.get(), "btnSubmit");
    auto* prompts = feedback->findChild<QLabel*>("txtPrompts");
    QTRY_VERIFY_WITH_TIMEOUT(prompts->styleSheet().contains("#FF0000"), 15000);
    Save(feedback.get(), "feedback-failed");
    QTRY_VERIFY(!corvane::Workers().IsBusy(corvane::WorkerKind::Feedback));
    feedback.reset();

    corvane::test::LogServer log(certificates);
    corvane::SetLogHost(log.hostPort());
    feedback =
        std::make_unique<corvane::gui::FeedBackWnd>(corvane::gui::FeedbackWndOptions{}, nullptr);
    feedback->show();
    feedback->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(feedback.get()));
    desc = feedback->findChild<QTextEdit*>("edtDesc");
    desc->setFocus();
    QTest::keyClicks(desc, "Please add a dark theme.");
    Click(feedback.get(), "opAdvice");
    Click(feedback.get(), "btnSubmit");
    prompts = feedback->findChild<QLabel*>("txtPrompts");
    QTRY_VERIFY_WITH_TIMEOUT(feedback->findChild<QWidget*>("btnSubmit")->isEnabled() &&
                                 !prompts->text().isEmpty() &&
                                 !prompts->styleSheet().contains("#FF0000") &&
                                 !corvane::Workers().IsBusy(corvane::WorkerKind::Feedback),
                             15000);
    Save(feedback.get(), "feedback-sent");
    feedback.reset();

    // Last: the update raises the stop request of every worker for good. The download is cut
    // short, so nothing is started and the window says so.
    download.SetDocument(corvane::test::UpdateDocument::Normal, "99.0.0.1");
    download.SetExecutable("");
    corvane::test::TempDir install;
    corvane::gui::VerWndOptions updateOptions;
    updateOptions.runningExecutable = install.path() + "/corvanecode";
    updateOptions.endProgram = [] {};
    corvane::gui::VerWnd failing({}, std::move(updateOptions), nullptr);
    failing.show();
    QVERIFY(QTest::qWaitForWindowExposed(&failing));
    auto* update = failing.findChild<QAbstractButton*>("btExeUpdate");
    QTRY_VERIFY_WITH_TIMEOUT(update->isEnabled(), 15000);
    Click(&failing, "btExeUpdate");
    QTRY_VERIFY_WITH_TIMEOUT(failing.findChild<QWidget*>("btClose")->isEnabled(), 15000);
    Save(&failing, "version-update-failed");
  }
};

QTEST_MAIN(GuiScreenshots)
#include "gui_screenshots.moc"
