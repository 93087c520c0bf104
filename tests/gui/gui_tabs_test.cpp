// The CSR and certificate tabs driven as a user would, on Qt's offscreen platform, over the
// real engine, OpenSSL and a SoftHSM2 token.
#include <openssl/pem.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>

#include "base/language.h"
#include "base/worker_registry.h"
#include "cert/key_store.h"
#include "crypto/openssl_ptr.h"
#include "crypto/x509_names.h"
#include "fixtures/run_command.h"
#include "fixtures/scoped_env.h"
#include "fixtures/temp_dir.h"
#include "fixtures/test_pki.h"
#include "fixtures/token_signer.h"
#include "gui/cert_tool.h"
#include "gui/csr_tool.h"
#include "gui_test_support.h"
#include "net/server_hosts.h"
#include "net/timestamp_setting.h"

using corvane::gui::CGuiWnd;

namespace {

template <typename T = QWidget>
T* Find(QWidget* parent, const char* name) {
  T* w = parent->findChild<T*>(QString::fromLatin1(name));
  if (!w) qFatal("no control %s", name);
  return w;
}

// Options take clicks on their mark and caption only: click near the mark.
void Click(QWidget* parent, const char* name) {
  auto* button = Find<QAbstractButton>(parent, name);
  const bool option = button->inherits("QRadioButton") || button->inherits("QCheckBox");
  QTest::mouseClick(button, Qt::LeftButton, {},
                    option ? QPoint(8, button->height() / 2) : button->rect().center());
}

QString Status(QWidget* tab) { return Find<QLabel>(tab, "lbOperRet")->text(); }

corvane::test::CommandResult OpenSsl(const std::vector<std::string>& args) {
  return corvane::test::RunCommand("/usr/bin/openssl", args);
}

void WriteKey(const std::string& path, EVP_PKEY* key) {
  corvane::BioPtr bio(BIO_new_file(path.c_str(), "w"));
  PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr);
}

}  // namespace

class GuiTabsTest : public QObject {
  Q_OBJECT

 private:
  corvane::test::TempDir programDir_;
  corvane::test::ScriptedDesktop desktop_;

  std::unique_ptr<CGuiWnd> NewWindow(std::vector<std::string> modules = {}) {
    corvane::gui::GuiOptions options;
    options.services = desktop_.Services();
    options.startBackgroundWorkers = false;
    options.pkcs11Modules = std::move(modules);
    auto wnd = std::make_unique<CGuiWnd>(std::move(options));
    wnd->show();
    return wnd;
  }

  // Presses a tab's worker button and waits until its outcome is on the tab.
  template <typename Tab>
  static void RunWorker(Tab* tab, const char* button) {
    QSignalSpy finished(tab, &Tab::workerFinished);
    Click(tab, button);
    QVERIFY(finished.wait(60000));
  }

 private slots:
  void initTestCase() {
    qputenv("CORVANECODE_PROGRAM_DIR", QByteArray::fromStdString(programDir_.path()));
    corvane::SetUiLanguage(corvane::UiLanguage::English);
  }

  void csrTabKindsModesAndCountryCode() {
    auto wnd = NewWindow();
    Click(wnd.get(), "btTabCSROper");
    QWidget* tab = &wnd->csrTool();
    QVERIFY(Find(tab, "edIssuerName")->isVisible());
    QVERIFY(!Find(tab, "edCommonName")->isVisible());
    Click(tab, "opSSLCert");
    for (const char* name :
         {"edDomainName", "edUnitName2", "cmbNationalName", "edNationalCode", "lbKindlyTip"})
      QVERIFY2(Find(tab, name)->isVisible(), name);
    QVERIFY(!Find(tab, "edIssuerName")->isVisible());
    Click(tab, "opClientCert");
    QVERIFY(Find(tab, "edEmail")->isVisible());
    QVERIFY(!Find(tab, "edDomainName")->isVisible());

    // The key file: chosen only in OpenSSL mode, forgotten when the mode changes back.
    QVERIFY(!Find(tab, "btSavePVK")->isEnabled());
    Click(tab, "opOpenSSL");
    QVERIFY(Find(tab, "edCSPSel")->isVisible());
    QVERIFY(!Find(tab, "cmbCSPSel")->isVisible());
    desktop_.saveAs = "/tmp/key.key";
    Click(tab, "btSavePVK");
    QCOMPARE(desktop_.saveFilters.last(), QString("PVK Files (*.pvk)"));
    QCOMPARE(Find<QLineEdit>(tab, "edPVKFile")->text(), QString("/tmp/key.key"));
    Click(tab, "opWinCSP");
    QVERIFY(Find<QLineEdit>(tab, "edPVKFile")->text().isEmpty());
    QVERIFY(!Find(tab, "btSavePVK")->isEnabled());

    // The country code.
    auto* code = Find<QLineEdit>(tab, "edNationalCode");
    auto* country = Find<QComboBox>(tab, "cmbNationalName");
    QCOMPARE(country->currentText(), QString(" China"));
    QCOMPARE(code->text(), QString("CN"));
    struct Typed {
      const char* text;
      const char* shown;
      const char* country;
    } cases[] = {
        {"c", "c", " China"},
        {"cn", "cn", " China"},  // its country was selected already
        {"u", "u", " China"},
        {"us", "US", " United States of America"},
        {"7", "", " United States of America"},
        {"zz", "", " United States of America"},
        {"\xc3\xa9", "", " United States of America"},
    };
    for (const Typed& t : cases) {
      code->clear();
      const QString typed = QString::fromUtf8(t.text);
      if (typed.at(0).unicode() > 127)
        code->insert(typed);  // QTest types ASCII only
      else
        QTest::keyClicks(code, typed);
      QCOMPARE(code->text(), QString::fromUtf8(t.shown));
      QCOMPARE(country->currentText(), QString(t.country));
    }
    country->setCurrentIndex(0);
    QCOMPARE(code->text(), QString("AF"));

    // Typing anywhere empties an old message.
    Click(tab, "btCheckCSR");
    QTRY_COMPARE(Status(tab),
                 QString("The CSR content is empty,please paste the CSR to the text box"));
    QTRY_VERIFY(Find(tab, "btCheckCSR")->isEnabled());
    QTest::keyClicks(Find(tab, "edDomainName"), "x");
    QVERIFY(Status(tab).isEmpty());
  }

  void csrTabRefusalsInTheirOrder() {
    corvane::test::TempDir dir;
    auto wnd = NewWindow();
    Click(wnd.get(), "btTabCSROper");
    auto* tab = &wnd->csrTool();
    Click(tab, "opOpenSSL");
    Click(tab, "opClientCert");
    Find<QLineEdit>(tab, "edCommonName")->setText("Client");
    struct Case {
      const char* email;
      bool keyFile;
      const char* shown;
    } cases[] = {
        {"ab@c.com", false, "The private key file can not be empty, please select a file"},
        {"a@b.org", true, "Email is illegal,please check and re-enter"},
        {"a@b.COM", true, "Email is illegal,please check and re-enter"},
        {"a.@b.com", true, "Email is illegal,please check and re-enter"},
        {"a@b.c.d.e.com", true, "Email is illegal,please check and re-enter"},
    };
    for (const Case& c : cases) {
      desktop_.saveAs = c.keyFile ? QString::fromStdString(dir / "k.key") : QString();
      Find<QLineEdit>(tab, "edPVKFile")->clear();
      if (c.keyFile) Click(tab, "btSavePVK");
      Find<QLineEdit>(tab, "edEmail")->setText(c.email);
      RunWorker(tab, "btGenCSR");
      QCOMPARE(Status(tab), QString(c.shown));
      QVERIFY(!std::filesystem::exists(dir / "k.key"));
    }
  }

  void csrTabGeneratesInBothModes() {
    corvane::test::TempDir dir;
    corvane::test::TokenWorld world;
    auto wnd = NewWindow({corvane::test::kSoftHsmModule});
    Click(wnd.get(), "btTabCSROper");
    auto* tab = &wnd->csrTool();
    auto* request = Find<QPlainTextEdit>(tab, "redCSR");
    auto* result = Find<QPlainTextEdit>(tab, "redMainCSR");
    Find<QLineEdit>(tab, "edIssuerName")->setText("Publisher A");
    Find<QLineEdit>(tab, "edUnitName1")->setText("Unit B");

    // OpenSSL mode: the key goes to the chosen file, owner-only.
    Click(tab, "opOpenSSL");
    desktop_.saveAs = QString::fromStdString(dir / "k.key");
    Click(tab, "btSavePVK");
    RunWorker(tab, "btGenCSR");
    QCOMPARE(Status(tab), QString("Generate CSR successfully"));
    QVERIFY(Find(tab, "btGenCSR")->isEnabled());
    QVERIFY(result->toPlainText().startsWith(
        "Version:0,   Encryption algorithm:RSA,   Length:2048 bit,"));
    corvane::test::WriteFileBytes(dir / "a.csr", request->toPlainText().toStdString());
    corvane::test::CommandResult verify =
        OpenSsl({"req", "-in", dir / "a.csr", "-verify", "-noout", "-subject"});
    QVERIFY2(verify.exitStatus == 0, verify.err.c_str());
    QVERIFY2(verify.out.find("O = Publisher A, CN = Unit B") != std::string::npos,
             verify.out.c_str());
    struct stat st {};
    QCOMPARE(::stat((dir / "k.key").c_str(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0600u);

    // Key-store mode: the token is the provider, its PIN asked once, the key made there.
    Click(tab, "opWinCSP");
    auto* providers = Find<QComboBox>(tab, "cmbCSPSel");
    QCOMPARE(providers->count(), 1);
    QCOMPARE(providers->currentText(), QString("Signing"));
    QCOMPARE(Find<QComboBox>(tab, "cmbKeyLen")->itemText(0), QString("2048"));
    corvane::test::ModalAnswerer answerer;
    answerer.On("PinDialog", [](QWidget* dialog) {
      Find<QLineEdit>(dialog, "edPin")->setText(corvane::test::kTokenPin);
      Click(dialog, "btOk");
    });
    request->clear();
    RunWorker(tab, "btGenCSR");
    QCOMPARE(Status(tab), QString("Generate CSR successfully"));
    QCOMPARE(answerer.seen("PinDialog"), 1);
    QVERIFY(request->toPlainText().startsWith("-----BEGIN CERTIFICATE REQUEST-----\r\n") ||
            request->toPlainText().startsWith("-----BEGIN CERTIFICATE REQUEST-----\n"));
    corvane::test::WriteFileBytes(dir / "b.csr", request->toPlainText().toStdString());
    verify = OpenSsl({"req", "-in", dir / "b.csr", "-verify", "-noout", "-subject"});
    QVERIFY2(verify.exitStatus == 0, verify.err.c_str());
    QVERIFY2(verify.out.find("CN = Publisher A, O = Unit B") != std::string::npos,
             verify.out.c_str());
    std::shared_ptr<corvane::KeyStore> store = world.OpenStore();
    QVERIFY(!store->Keys(0).empty());
  }

  void csrTabChecksARepairedRequest() {
    corvane::test::TempDir dir;
    corvane::EvpPkeyPtr key = corvane::test::NewRsaKey(2048);
    WriteKey(dir / "k.pem", key.get());
    corvane::test::CommandResult made =
        OpenSsl({"req", "-new", "-key", dir / "k.pem", "-subj", "/C=CN/O=Org/CN=www.example.cn",
                 "-out", dir / "r.csr"});
    QVERIFY2(made.exitStatus == 0, made.err.c_str());
    // Pasted through a program that turned the line breaks into blanks.
    QString pasted = QString::fromStdString(corvane::test::ReadFileBytes(dir / "r.csr"));
    pasted.replace("\n", " ");
    pasted.replace("REQUEST----- ", "REQUEST-----\n");

    auto wnd = NewWindow();
    Click(wnd.get(), "btTabCSROper");
    auto* tab = &wnd->csrTool();
    auto* request = Find<QPlainTextEdit>(tab, "redCSR");
    struct Case {
      QString text;
      const char* shown;
      const char* resultStart;
    } cases[] = {
        {"", "The CSR content is empty,please paste the CSR to the text box", ""},
        {"-----BEGIN CERTIFICATE REQUEST-----\nMIIB\n-----END CERTIFICATE REQUEST-----",
         "The CSR content is illegal,please paste the legal CSR to the text box", ""},
        {pasted, "Check CSR successfully",
         // the box shows each CR LF as one line break
         "Version:0,   Encryption algorithm:RSA,   Length:2048 bit,\nSignature Algorithm: "
         "sha256WithRSAEncryption,\nUser Information:\nCN=www.example.cn \nO=Org \nC=CN "},
    };
    for (const Case& c : cases) {
      request->setPlainText(c.text);
      RunWorker(tab, "btCheckCSR");
      QCOMPARE(Status(tab), QString(c.shown));
      QVERIFY2(Find<QPlainTextEdit>(tab, "redMainCSR")->toPlainText().startsWith(c.resultStart),
               qPrintable(Find<QPlainTextEdit>(tab, "redMainCSR")->toPlainText()));
    }
    // The request box's clipboard buttons.
    Click(tab, "btCopy");
    Click(tab, "btClear");
    QVERIFY(request->toPlainText().isEmpty());
    Click(tab, "btPaste");
    QCOMPARE(request->toPlainText(), pasted);
  }

  void certTabOptionAndPasteRules() {
    auto wnd = NewWindow();
    Click(wnd.get(), "btTabCertOper");
    auto* tab = &wnd->certTool();
    auto* paste = Find<QAbstractButton>(tab, "opPasteCert");
    QCOMPARE(paste->text(), QString("Paste certificate content here(PEM Format):"));
    for (const char* name : {"btCopy", "btPaste", "btClear", "redCert"})
      QVERIFY2(!Find(tab, name)->isEnabled(), name);
    QVERIFY(Find(tab, "edCertFile_")->isVisible());

    desktop_.file = "/tmp/user.pem";
    Click(tab, "opSpcPkcs7");
    QCOMPARE(paste->text(), QString("Paste user certificate content here(PEM Format):"));
    QVERIFY(!Find(tab, "edCertFile_")->isVisible());
    Click(tab, "btUserSel");
    QCOMPARE(Find<QLineEdit>(tab, "edUserCert")->text(), QString("/tmp/user.pem"));
    QVERIFY(!Find(tab, "edUserCert")->isEnabled());  // paths come from the select buttons

    // Pasting disables the row of the operation's certificate and empties its edit.
    Click(tab, "opPasteCert");
    QVERIFY(!Find(tab, "lbUserCert")->isEnabled());
    QVERIFY(!Find(tab, "btUserSel")->isEnabled());
    QVERIFY(Find<QLineEdit>(tab, "edUserCert")->text().isEmpty());
    for (const char* name : {"btCopy", "btPaste", "btClear", "redCert"})
      QVERIFY2(Find(tab, name)->isEnabled(), name);
    Find<QPlainTextEdit>(tab, "redCert")->setPlainText("pasted");
    Click(tab, "opGenPFX");
    QCOMPARE(paste->text(), QString("Paste certificate content here(PEM Format):"));
    QVERIFY(!Find(tab, "btCertFileSel")->isEnabled());
    Click(tab, "opPasteCert");
    QVERIFY(Find(tab, "btCertFileSel")->isEnabled());
    QVERIFY(Find<QPlainTextEdit>(tab, "redCert")->toPlainText().isEmpty());
    QVERIFY(!Find(tab, "redCert")->isEnabled());

    // An upper certificate's dialog cancelled removes that certificate.
    Click(tab, "opSpcPkcs7");
    desktop_.file = "/tmp/ca.pem";
    Click(tab, "btUpperSel2");
    QCOMPARE(Find<QLineEdit>(tab, "edUpperCert2")->text(), QString("/tmp/ca.pem"));
    desktop_.file.clear();
    Click(tab, "btUpperSel2");
    QVERIFY(Find<QLineEdit>(tab, "edUpperCert2")->text().isEmpty());
  }

  void certTabMakesPfxAndSpc() {
    corvane::test::TempDir dir;
    corvane::test::KeyedCert root = corvane::test::NewRoot("Tab Root");
    corvane::test::CertSpec spec;
    spec.commonName = "Tab Code Signer";
    corvane::test::KeyedCert user = corvane::test::Issue(spec, &root);
    corvane::test::WriteFileBytes(dir / "user.pem", corvane::test::ToPem(user.cert.get()));
    corvane::test::WriteFileBytes(dir / "root.pem", corvane::test::ToPem(root.cert.get()));
    WriteKey(dir / "user.key", user.key.get());

    auto wnd = NewWindow();
    Click(wnd.get(), "btTabCertOper");
    auto* tab = &wnd->certTool();
    Click(tab, "opGenPFX");
    desktop_.file = QString::fromStdString(dir / "user.pem");
    Click(tab, "btCertFileSel");
    desktop_.file = QString::fromStdString(dir / "user.key");
    Click(tab, "btPrivateKeySel");
    Find<QLineEdit>(tab, "edPFXPwd")->setText("pw");
    Find<QLineEdit>(tab, "edPwdConfirm")->setText("px");
    desktop_.saveAs = QString::fromStdString(dir / "out.pfx");
    RunWorker(tab, "btExecuteOper");
    QCOMPARE(Status(tab), QString("The password does not match,please re-enter"));
    QVERIFY(desktop_.saveFilters.isEmpty());
    QVERIFY(Find<QLineEdit>(tab, "edPFXPwd")->text().isEmpty());  // asked again
    Find<QLineEdit>(tab, "edPFXPwd")->setText("pw");
    Find<QLineEdit>(tab, "edPwdConfirm")->setText("pw");
    RunWorker(tab, "btExecuteOper");
    QCOMPARE(Status(tab), QString("Generate PFX file successfully"));
    QCOMPARE(desktop_.saveFilters, QStringList{"PFX File(*.pfx)"});  // after the build
    corvane::test::CommandResult info =
        OpenSsl({"pkcs12", "-in", dir / "out.pfx", "-passin", "pass:pw", "-nokeys", "-clcerts"});
    QVERIFY2(info.exitStatus == 0, info.err.c_str());
    QVERIFY(info.out.find("Tab Code Signer") != std::string::npos);

    Click(tab, "opSpcPkcs7");
    desktop_.file = QString::fromStdString(dir / "user.pem");
    Click(tab, "btUserSel");
    desktop_.file = QString::fromStdString(dir / "missing.pem");
    Click(tab, "btUpperSel1");
    RunWorker(tab, "btExecuteOper");
    QCOMPARE(Status(tab), QString("Upper certificate1 file not exist"));
    desktop_.file = QString::fromStdString(dir / "root.pem");
    Click(tab, "btUpperSel1");
    desktop_.saveAs = QString::fromStdString(dir / "chain.spc");
    RunWorker(tab, "btExecuteOper");
    QCOMPARE(Status(tab), QString("Generate SPC file successfully"));
    corvane::test::CommandResult certs =
        OpenSsl({"pkcs7", "-in", dir / "chain.spc", "-print_certs", "-noout"});
    QVERIFY2(certs.exitStatus == 0, certs.err.c_str());
    QVERIFY(certs.out.find("Tab Code Signer") != std::string::npos);
    QVERIFY(certs.out.find("Tab Root") != std::string::npos);
  }

  void certTabInstallsOntoTheToken() {
    corvane::test::TokenWorld world;
    corvane::test::TempDir dir;
    corvane::test::KeyedCert issuing = corvane::test::Authority("issuing-a1");
    {
      std::shared_ptr<corvane::KeyStore> store = world.OpenStore();
      corvane::TokenKey key = store->GenerateRsaKey(0, 2048, "issued later");
      corvane::test::CertSpec spec;
      spec.commonName = "Installed Signer";
      spec.subjectKey = key.key;
      corvane::test::KeyedCert issued = corvane::test::Issue(spec, &issuing);
      corvane::test::WriteFileBytes(dir / "issued.pem", corvane::test::ToPem(issued.cert.get()));
    }
    auto wnd = NewWindow({corvane::test::kSoftHsmModule});
    Click(wnd.get(), "btTabCertOper");
    auto* tab = &wnd->certTool();
    corvane::test::ModalAnswerer answerer;
    answerer.On("PinDialog", [](QWidget* dialog) {
      Find<QLineEdit>(dialog, "edPin")->setText(corvane::test::kTokenPin);
      Click(dialog, "btOk");
    });
    QString plan;
    answerer.On("InstallConfirm", [&plan](QWidget* box) {
      plan = Find<QLabel>(box, "qt_msgbox_label")->text();
      QTest::keyClick(box, Qt::Key_Y, Qt::AltModifier);
      for (QAbstractButton* b : box->findChildren<QAbstractButton*>())
        if (b->text().contains("Yes")) b->click();
    });
    RunWorker(tab, "btExecuteOper");
    QCOMPARE(Status(tab), QString("Please select a valid certificate"));
    desktop_.file = QString::fromStdString(dir / "issued.pem");
    Click(tab, "btCertFileSel_");
    RunWorker(tab, "btExecuteOper");
    QCOMPARE(answerer.seen("InstallConfirm"), 1);
    QVERIFY2(plan.contains("Installed Signer"), qPrintable(plan));
    QVERIFY(Status(tab).isEmpty());
    std::shared_ptr<corvane::KeyStore> store = world.OpenStore();
    bool onToken = false;
    for (const corvane::TokenCertificate* cert : store->PublicCertificates())
      onToken = onToken || corvane::SubjectDisplayName(cert->certificate) == "Installed Signer";
    QVERIFY(onToken);
  }

  void timestampServersAreSavedAndUsed() {
    corvane::test::ScopedEnv noHosts("CORVANECODE_TIMESTAMP_HOST", "");
    auto wnd = NewWindow();
    corvane::test::ModalAnswerer answerer;
    QStringList shown;
    answerer.On("TimestampHostsWnd", [&shown](QWidget* d) {
      auto* box = Find<QPlainTextEdit>(d, "redTimestampHosts");
      auto* status = Find<QLabel>(d, "lbSettingRet");
      shown << box->toPlainText();
      box->setPlainText("127.0.0.1:9\nbad/host");
      Click(d, "btSaveSetting");
      shown << status->text();
      box->setPlainText("127.0.0.1:9\n ts.example ");
      Click(d, "btSaveSetting");
      shown << status->text();
      Click(d, "btClose");
    });
    Click(wnd.get(), "btTimestampHosts");
    QCOMPARE(shown, (QStringList{"", "Not a server (host or host:port): bad/host",
                                 "The timestamp servers are saved"}));
    QCOMPARE(corvane::TimestampHosts(), (std::vector<std::string>{"127.0.0.1:9", "ts.example"}));

    // The next start shows and uses the saved list.
    corvane::ClearServerOverrides();
    wnd = NewWindow();
    QCOMPARE(corvane::TimestampHosts(), (std::vector<std::string>{"127.0.0.1:9", "ts.example"}));
    shown.clear();
    answerer.On("TimestampHostsWnd", [&shown](QWidget* d) {
      shown << Find<QPlainTextEdit>(d, "redTimestampHosts")->toPlainText();
      Click(d, "btClose");
    });
    Click(wnd.get(), "btTimestampHosts");
    QCOMPARE(shown, QStringList{"127.0.0.1:9\nts.example"});
    QVERIFY(corvane::SaveTimestampHostsSetting({}));
    corvane::ClearServerOverrides();
  }
};

QTEST_MAIN(GuiTabsTest)
#include "gui_tabs_test.moc"
