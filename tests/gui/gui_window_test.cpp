// The desktop window driven as a user would, on Qt's offscreen platform, over the real engine.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>

#include "base/language.h"
#include "base/worker_registry.h"
#include "crypto/x509_names.h"
#include "fixtures/scoped_env.h"
#include "fixtures/signing_environment.h"
#include "fixtures/temp_dir.h"
#include "fixtures/token_signer.h"
#include "gui/cross_cert_wnd.h"
#include "gui/tip_wnd.h"
#include "gui_test_support.h"
#include "sign/authenticode_verifier.h"

using corvane::gui::CGuiWnd;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void Touch(const std::string& path, const std::string& content = "x") {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

template <typename T = QWidget>
T* Find(QWidget* window, const char* name) {
  T* w = window->findChild<T*>(QString::fromLatin1(name));
  if (!w) qFatal("no control %s", name);
  return w;
}

QStringList Column(CGuiWnd& wnd, bool signList, int column) {
  QStringList out;
  for (const corvane::SignTask& row : (signList ? wnd.signList() : wnd.toolList()).rows())
    out << QString::fromStdString(column == 0 ? row.path : row.state);
  return out;
}

void Click(QWidget* window, const char* name) {
  QTest::mouseClick(Find<QAbstractButton>(window, name), Qt::LeftButton);
}

}  // namespace

class GuiWindowTest : public QObject {
  Q_OBJECT

 private:
  corvane::test::TempDir programDir_;
  corvane::test::ScriptedDesktop desktop_;

  std::unique_ptr<CGuiWnd> NewWindow(bool backgroundWorkers = false,
                                     std::vector<std::string> modules = {}) {
    corvane::gui::GuiOptions options;
    options.services = desktop_.Services();
    options.startBackgroundWorkers = backgroundWorkers;
    options.pkcs11Modules = std::move(modules);
    auto wnd = std::make_unique<CGuiWnd>(std::move(options));
    wnd->show();
    return wnd;
  }

 private slots:
  void initTestCase() {
    // Every service the window may call lives on 127.0.0.1; the ones a test does not start
    // refuse the connection at once.
    qputenv("CORVANECODE_PROGRAM_DIR", QByteArray::fromStdString(programDir_.path()));
    for (const char* host : {"CORVANECODE_LOG_HOST", "CORVANECODE_UPDATE_HOST",
                             "CORVANECODE_SCAN_HOST", "CORVANECODE_TIMESTAMP_HOST"})
      qputenv(host, "127.0.0.1:1");
    if (!qEnvironmentVariableIsSet("CORVANE_TEST_CHINESE"))
      corvane::SetUiLanguage(corvane::UiLanguage::English);
  }

  void startUpState() {
    auto wnd = NewWindow();
    QCOMPARE(wnd->size(), QSize(950, 700));
    QVERIFY(wnd->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(wnd->currentTab(), 0);
    QVERIFY(Find(wnd.get(), "ctSign")->isVisible());
    for (const char* hidden :
         {"ctCSR", "ctCert", "ctTool", "ctSetting", "btVerify", "txtDbg", "btTabSetting", "lbPswd",
          "edPswd", "opReplace", "opAddPosix", "edPosix", "pbSignProgress"})
      QVERIFY2(!Find(wnd.get(), hidden)->isVisible(), hidden);
    auto* edCert = Find<QLineEdit>(wnd.get(), "edCert");
    QCOMPARE(edCert->text(),
             QString("Please select a PFX cert, or select a cert from the cert store"));
    QVERIFY(!edCert->isEnabled());
    QVERIFY(Find<QAbstractButton>(wnd.get(), "opGenrlSign")->isChecked());
    QVERIFY(!Find<QAbstractButton>(wnd.get(), "opKernelSign")->isChecked());
    QVERIFY(Find<QAbstractButton>(wnd.get(), "opAddSignList")->isChecked());
    QVERIFY(Find<QAbstractButton>(wnd.get(), "opReplace")->isChecked());
    QVERIFY(!Find<QAbstractButton>(wnd.get(), "opAppendSig")->isChecked());
    QVERIFY(Find<QLabel>(wnd.get(), "lbGlobalErr")->text().isEmpty());
    QVERIFY(Find(wnd.get(), "lbAddSignFileTip")->isVisible());
    QCOMPARE(Find<QLabel>(wnd.get(), "txtDbg")->text().left(11), QString("initialized"));
    QCOMPARE(wnd->windowTitle(), QString("CorvaneCode"));
    QVERIFY(Find(wnd.get(), "btTabSign")->styleSheet().contains("255, 0, 255"));
  }

  void chineseSkin() {
    if (!qEnvironmentVariableIsSet("CORVANE_TEST_CHINESE")) QSKIP("run with CORVANE_TEST_CHINESE");
    auto wnd = NewWindow();
    QCOMPARE(Find<QLineEdit>(wnd.get(), "edCert")->text(),
             QString::fromUtf8("请选择PFX证书，或从证书库选择证书"));
    QCOMPARE(Find<QAbstractButton>(wnd.get(), "btTabSign")->text(), QString::fromUtf8("代码签名"));
    QCOMPARE(wnd->windowTitle(), QString::fromUtf8("柯文代码签名工具CorvaneCode"));
    QCOMPARE(wnd->signList().headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(),
             QString::fromUtf8("状态"));
  }

  void tabsAndCtrlTab() {
    auto wnd = NewWindow();
    Click(wnd.get(), "btTabCabPack");
    QCOMPARE(wnd->currentTab(), 3);
    QVERIFY(Find(wnd.get(), "ctTool")->isVisible());
    QVERIFY(!Find(wnd.get(), "ctSign")->isVisible());
    QVERIFY(Find(wnd.get(), "btTabCabPack")->styleSheet().contains("rgba(0, 255, 0, 255)"));
    QVERIFY(Find(wnd.get(), "btTabSign")->styleSheet().contains("rgba(0, 255, 0, 0)"));
    QVERIFY(wnd->acceptDrops());
    // Ctrl+Tab wraps from the CAB/CAT tab to the signing tab and never reaches the setting tab.
    QList<int> seen;
    for (int i = 0; i < 5; ++i) {
      QTest::keyClick(
          Find(wnd.get(), "edPswd")->isVisible() ? Find(wnd.get(), "edPswd") : wnd.get(),
          Qt::Key_Tab, Qt::ControlModifier);
      seen << wnd->currentTab();
      QCOMPARE(wnd->acceptDrops(), wnd->currentTab() == 0 || wnd->currentTab() == 3);
    }
    QCOMPARE(seen, (QList<int>{0, 1, 2, 3, 0}));
    Click(wnd.get(), "btTabCertOper");
    QCOMPARE(wnd->currentTab(), 2);
    QVERIFY(Find(wnd.get(), "ctCert")->isVisible());
    // Enter is swallowed by the window.
    QTest::keyClick(wnd.get(), Qt::Key_Return);
    QCOMPARE(wnd->currentTab(), 2);
  }

  void listAddsDuplicatesAndCase() {
    corvane::test::TempDir dir;
    const std::string lower = dir / "tool.exe", upper = dir / "TOOL.EXE", text = dir / "notes.txt";
    for (const auto& p : {lower, upper, text}) Touch(p);
    auto wnd = NewWindow();
    desktop_.files = {QString::fromStdString(lower)};
    Click(wnd.get(), "btAdd");
    QCOMPARE(desktop_.lastFilterName, QString("Support Files"));
    Click(wnd.get(), "btAdd");
    QCOMPARE(Column(*wnd, true, 0), QStringList{QString::fromStdString(lower)});
    QCOMPARE(Column(*wnd, true, 1), QStringList{"Waiting..."});
    QVERIFY(!Find(wnd.get(), "lbAddSignFileTip")->isVisible());
    // The same name in other letters is another path; a picked file is not filtered by type.
    desktop_.files = {QString::fromStdString(upper), QString::fromStdString(text),
                      QString::fromStdString(lower)};
    Click(wnd.get(), "btAdd");
    QCOMPARE(Column(*wnd, true, 0),
             (QStringList{QString::fromStdString(lower), QString::fromStdString(upper),
                          QString::fromStdString(text)}));
    QCOMPARE(Find<QTreeView>(wnd.get(), "lstSignFile")->currentIndex().row(), 0);
    // Double-clicking the hint of the empty tool list picks files for the tool list.
    Click(wnd.get(), "btTabCabPack");
    desktop_.files = {QString::fromStdString(text)};
    QTest::mouseDClick(Find(wnd.get(), "lbAddToolFileTip"), Qt::LeftButton);
    QCOMPARE(desktop_.lastFilterName, QString("(*.*)"));
    QCOMPARE(Column(*wnd, false, 0), QStringList{QString::fromStdString(text)});
  }

  void folderDropFilteredByType() {
    corvane::test::TempDir dir;
    const std::string top = dir / "drop";
    Touch(top + "/a.exe");
    Touch(top + "/readme.txt");
    Touch(top + "/sub/b.dll");
    Touch(top + "/sub/.hidden.ocx");
    Touch(top + "/sub/deeper/c.sys");
    Touch(top + "/sub/deeper/d.MSI");
    std::filesystem::create_directory_symlink(top, top + "/sub/loop");  // a cycle, not followed
    auto wnd = NewWindow();
    wnd->DropPaths({QString::fromStdString(top)});
    QStringList rows = Column(*wnd, true, 0);
    QCOMPARE(rows.size(), 5);
    QCOMPARE(rows[0], QString::fromStdString(top + "/a.exe"));
    QVERIFY(rows.indexOf(QString::fromStdString(top + "/sub/b.dll")) < 3);
    QVERIFY(rows.indexOf(QString::fromStdString(top + "/sub/.hidden.ocx")) < 3);
    QVERIFY(rows.indexOf(QString::fromStdString(top + "/sub/deeper/c.sys")) >= 3);
    QVERIFY(rows.indexOf(QString::fromStdString(top + "/sub/deeper/d.MSI")) >= 3);
    // The same folder on the tool list: every file.
    Click(wnd.get(), "btTabCabPack");
    wnd->DropPaths({QString::fromStdString(top)});
    QCOMPARE(Column(*wnd, false, 0).size(), 6);
    QVERIFY(Column(*wnd, false, 0).contains(QString::fromStdString(top + "/readme.txt")));
    // Drops are refused on the CSR and certificate tabs.
    Click(wnd.get(), "btTabCSROper");
    QVERIFY(!wnd->acceptDrops());
    // Add Folder walks the same way.
    Click(wnd.get(), "btTabSign");
    Click(wnd.get(), "btDelAll");
    desktop_.folder = QString::fromStdString(top + "/sub");
    Click(wnd.get(), "btAddFolder");
    QCOMPARE(Column(*wnd, true, 0).size(), 4);
  }

  void wholeDriveRefusedWithTheWholeDrop() {
    corvane::test::TempDir dir;
    const std::string file = dir / "ok.exe";
    Touch(file);
    auto wnd = NewWindow();
    // The filesystem root, and a mount point (the proc filesystem), each with a plain file.
    for (const char* drive : {"/", "/proc"}) {
      wnd->DropPaths({QString::fromStdString(file), QString::fromLatin1(drive)});
      QVERIFY2(wnd->signList().rows().empty(), drive);
      QCOMPARE(Find<QLabel>(wnd.get(), "lbGlobalErr")->text(),
               QString("Not support add whole driver disc"));
    }
    desktop_.folder = "/";
    Click(wnd.get(), "btAddFolder");
    QVERIFY(wnd->signList().rows().empty());
    QCOMPARE(Find<QLabel>(wnd.get(), "lbGlobalErr")->text(),
             QString("Not support add whole driver disc"));
    // The next action clears the message; an ordinary folder is no drive.
    wnd->DropPaths({QString::fromStdString(dir.path())});
    QCOMPARE(wnd->signList().rows().size(), 1u);
    QVERIFY(Find<QLabel>(wnd.get(), "lbGlobalErr")->text().isEmpty());
  }

  void deleteSemanticsAndHints() {
    corvane::test::TempDir dir;
    QStringList files;
    for (int i = 0; i < 5; ++i) {
      const std::string p = dir / ("f" + std::to_string(i) + ".exe");
      Touch(p);
      files << QString::fromStdString(p);
    }
    auto wnd = NewWindow();
    auto* view = Find<QTreeView>(wnd.get(), "lstSignFile");
    Click(wnd.get(), "btDel");  // an empty list: nothing
    Click(wnd.get(), "btDelAll");
    QVERIFY(Find(wnd.get(), "lbAddSignFileTip")->isVisible());
    desktop_.files = files;
    Click(wnd.get(), "btAdd");
    QVERIFY(!Find(wnd.get(), "lbAddSignFileTip")->isVisible());
    // Rows 2 and 4 selected (1 and 3 counting from 0): only the first goes.
    view->selectionModel()->clearSelection();
    for (int row : {1, 3})
      view->selectionModel()->select(wnd->signList().index(row, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    Click(wnd.get(), "btDel");
    QCOMPARE(Column(*wnd, true, 0), (QStringList{files[0], files[2], files[3], files[4]}));
    const QModelIndexList selected = view->selectionModel()->selectedRows();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected.first().row(), 1);
    // The last row deleted: the new last row is selected. Then the Delete key on the list.
    view->selectionModel()->select(wnd->signList().index(3, 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    Click(wnd.get(), "btDel");
    QCOMPARE(view->selectionModel()->selectedRows().first().row(), 2);
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Delete);
    QCOMPARE(Column(*wnd, true, 0), (QStringList{files[0], files[2]}));
    Click(wnd.get(), "btDelAll");
    QVERIFY(wnd->signList().rows().empty());
    QVERIFY(Find(wnd.get(), "lbAddSignFileTip")->isVisible());
    // After Clear, a Delete on a list of three removes one row.
    desktop_.files = files.mid(0, 3);
    Click(wnd.get(), "btAdd");
    Click(wnd.get(), "btDel");
    QCOMPARE(wnd->signList().rows().size(), 2u);
  }

  void propertiesOfARow() {
    corvane::test::TempDir dir;
    const std::string file = dir / "plain.exe";
    Touch(file, std::string(1234, 'z'));
    chmod(file.c_str(), 0640);
    auto wnd = NewWindow();
    desktop_.files = {QString::fromStdString(file)};
    Click(wnd.get(), "btAdd");
    corvane::test::ModalAnswerer answerer;
    QString shownSize, shownPermissions;
    bool noSignature = false;
    answerer.On("FilePropertiesDialog", [&](QWidget* dialog) {
      for (QLabel* label : dialog->findChildren<QLabel*>()) {
        if (label->text().contains("bytes")) shownSize = label->text();
        if (label->text().startsWith("rw-r-----")) shownPermissions = label->text();
      }
      noSignature = dialog->findChild<QLabel*>("lbNoSignature") != nullptr;
      Click(dialog, "btClose");
    });
    auto* view = Find<QTreeView>(wnd.get(), "lstSignFile");
    const QRect cell = view->visualRect(wnd->signList().index(0, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    QCOMPARE(answerer.seen("FilePropertiesDialog"), 1);
    QVERIFY(shownSize.contains("1,234") || shownSize.contains("1234"));
    QVERIFY(!shownPermissions.isEmpty());
    QVERIFY(noSignature);
  }

  void tipWndFontsAndClosingPrompt() {
    auto wnd = NewWindow();
    corvane::gui::TipWnd shortTip(QString(200, 'a'), wnd.get());
    corvane::gui::TipWnd longTip(QString(201, 'a'), wnd.get());
    QCOMPARE(shortTip.size(), QSize(511, 235));
    auto* shortText = Find<QLabel>(&shortTip, "txtTip");
    auto* longText = Find<QLabel>(&longTip, "txtTip");
    QVERIFY(longText->font().pointSize() < shortText->font().pointSize());
    corvane::test::ModalAnswerer answerer;
    answerer.On("TipWnd", [](QWidget* tip) { Click(tip, "btOk"); });
    QVERIFY(wnd->ShowTip("ok?"));
    answerer.On("TipWnd", [](QWidget* tip) { Click(tip, "btClose"); });
    QVERIFY(!wnd->ShowTip("closed?"));
    wnd->ShowClosingTip("Closing...");
    QWidget* closing = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == "ClosingTip") closing = w;
    QVERIFY(closing);
    QCOMPARE(closing->size(), QSize(300, 150));
    QVERIFY(!Find(closing, "btOk")->isVisible());
    QVERIFY(!Find(closing, "btClose")->isVisible());
    closing->close();
  }

  void linksAreCounted() {
    auto wnd = NewWindow();
    Click(wnd.get(), "btBuyCert");
    Click(wnd.get(), "btBuyCert");
    Click(wnd.get(), "btHelp");
    Click(wnd.get(), "btLogo");
    QCOMPARE(wnd->counters().Get("buyLink"), 2);
    QCOMPARE(wnd->counters().Get("otherLink"), 2);
    QCOMPARE(desktop_.openedUrls,
             (QStringList{"https://shop.corvane.example", "https://shop.corvane.example",
                          "https://www.corvane.example/english/contact.asp",
                          "https://www.corvane.example/english/index.htm"}));
  }

  void pfxChoiceKeepsThePasswordOfTheSameFile() {
    corvane::test::TempDir dir;
    Touch(dir / "Signer.pfx");
    Touch(dir / "other.pfx");
    auto wnd = NewWindow();
    desktop_.file = QString::fromStdString(dir / "Signer.pfx");
    Click(wnd.get(), "btSelPfx");
    QVERIFY(Find(wnd.get(), "edPswd")->isVisible());
    QVERIFY(Find(wnd.get(), "lbPswd")->isVisible());
    QCOMPARE(Find<QLineEdit>(wnd.get(), "edCert")->text(), desktop_.file);
    Find<QLineEdit>(wnd.get(), "edPswd")->setText("secret");
    desktop_.file = QString::fromStdString(dir / "SIGNER.PFX");
    Click(wnd.get(), "btSelPfx");
    QCOMPARE(Find<QLineEdit>(wnd.get(), "edPswd")->text(), QString("secret"));
    desktop_.file = QString::fromStdString(dir / "other.pfx");
    Click(wnd.get(), "btSelPfx");
    QVERIFY(Find<QLineEdit>(wnd.get(), "edPswd")->text().isEmpty());
    QVERIFY(wnd->session().choice().pfxChosen);
  }

  void crossCertWndMessagesAndKeys() {
    corvane::test::TempDir dir;
    Touch(dir / "some.cer", "not a certificate");
    const corvane::ChainList empty;
    corvane::gui::CrossCertWnd wnd(
        empty, [&] { return QString::fromStdString(dir / "some.cer"); }, [](const QString&) {},
        nullptr);
    QVERIFY(Find<QLabel>(&wnd, "txtUseTip")->text().startsWith("      You are using"));
    auto* err = Find<QLabel>(&wnd, "lbErrTip");
    Click(&wnd, "btSign");
    QCOMPARE(err->text(), QString("Please select a kernel cross certificate."));
    Find<QLineEdit>(&wnd, "edCert")->setText(QString::fromStdString(dir / "missing.cer"));
    Click(&wnd, "btSign");
    QCOMPARE(err->text(), QString("Kernel cross certificate is not exist, please reselect."));
    Click(&wnd, "btSelect");
    QVERIFY(err->text().isEmpty());
    QCOMPARE(Find<QLineEdit>(&wnd, "edCert")->text(), QString::fromStdString(dir / "some.cer"));
    Click(&wnd, "btSign");
    QCOMPARE(err->text(), QString("The certificate verify information is incomplete, please "
                                  "connect network to verify!"));
    QVERIFY(wnd.chosenPath().isEmpty());
    wnd.show();
    QTest::keyClick(&wnd, Qt::Key_Escape);
    QCOMPARE(wnd.result(), 2);
  }

  void secondInstanceExitsAtOnce() {
    corvane::test::TempDir runtime;
    chmod(runtime.path().c_str(), 0700);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime.path()));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    QProcess first, second;
    first.setProcessEnvironment(env);
    second.setProcessEnvironment(env);
    first.start(CORVANE_GUI_PATH, {});
    QVERIFY(first.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QString::fromStdString(runtime / "corvanecode.lock")),
                             10000);
    QTest::qWait(500);
    QCOMPARE(first.state(), QProcess::Running);
    second.start(CORVANE_GUI_PATH, {});
    QVERIFY(second.waitForFinished(5000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QVERIFY(second.readAllStandardError().isEmpty() || true);
    QCOMPARE(first.state(), QProcess::Running);
    first.terminate();
    QVERIFY(first.waitForFinished(10000));
  }

  // The runs, over the engine with the test timestamp server and reputation service.

  void fullSigningRun() {
    corvane::test::SigningEnvironment env;
    // The test roots are trusted: no run warns of a chain that reaches no trusted root.
    corvane::test::ScopedEnv trusted("CORVANECODE_TRUST", env.trustBundle());
    const std::string exe = env.CopyImage("console-x64.exe", "app.exe");
    const std::string dll = env.CopyImage("library-x86.dll", "lib.dll");
    const std::string sys = env.CopyImage("driver-x64.sys", "drv.sys");
    auto wnd = NewWindow();
    desktop_.file = QString::fromStdString(env.rootA().pfxPath);
    Click(wnd.get(), "btSelPfx");
    Find<QLineEdit>(wnd.get(), "edPswd")->setText(QString::fromStdString(env.rootA().password));
    desktop_.files = {QString::fromStdString(exe), QString::fromStdString(dll),
                      QString::fromStdString(sys)};
    Click(wnd.get(), "btAdd");

    std::map<int, QStringList> seen;
    bool disabledDuringRun = true, progressShown = false;
    connect(&wnd->signList(), &QAbstractItemModel::dataChanged, this,
            [&](const QModelIndex& from, const QModelIndex&) {
              const QString text = QString::fromStdString(wnd->signList().rows()[from.row()].state);
              QStringList& texts = seen[from.row()];
              if (texts.isEmpty() || texts.last() != text) texts << text;
              for (const char* name : {"btExe", "btAdd", "btDel", "btSelPfx", "opKernelSign"})
                if (Find(wnd.get(), name)->isEnabled()) disabledDuringRun = false;
              if (Find(wnd.get(), "pbSignProgress")->isVisible()) progressShown = true;
            });
    corvane::test::ModalAnswerer answerer;
    answerer.On("TipWnd", [](QWidget* tip) { Click(tip, "btOk"); });
    QSignalSpy finished(wnd.get(), &CGuiWnd::signRunFinished);
    Click(wnd.get(), "btExe");
    Click(wnd.get(), "btExe");  // a second click starts nothing
    QVERIFY(finished.wait(120000));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(answerer.seen("TipWnd"), 1);  // the double-certificate advice, once
    const QStringList normal{"Waiting...", "Virus Scanning...", "Signing...", "Complete"};
    QCOMPARE(seen[0], normal);
    QCOMPARE(seen[1], normal);
    QCOMPARE(seen[2], (QStringList{"Waiting...", "Virus Scanning...", "Signing...",
                                   "Complete: Sign the SYS files using kernel mode"}));
    QVERIFY(disabledDuringRun);
    QVERIFY(progressShown);
    QVERIFY(!Find(wnd.get(), "pbSignProgress")->isVisible());
    for (const char* name : {"btExe", "btAdd", "btAddFolder", "btDel", "btDelAll", "btSelPfx",
                             "btSelStoreCert", "opGenrlSign", "opKernelSign", "opAppendSig"})
      QVERIFY2(Find(wnd.get(), name)->isEnabled(), name);
    QVERIFY(Find<QAbstractButton>(wnd.get(), "opAddSignList")->isChecked());
    QVERIFY(Find<QLabel>(wnd.get(), "lbGlobalErr")->text().isEmpty());
    for (const std::string& path : {exe, dll, sys}) {
      std::string log;
      QVERIFY2(env.OsslVerify(path, &log) == 0, log.c_str());
    }
    QCOMPARE(wnd->counters().Get("signFile"), 3);

    // A second run: the advice is not repeated; the properties show the signature.
    Click(wnd.get(), "btExe");
    QVERIFY(finished.wait(120000));
    QCOMPARE(answerer.seen("TipWnd"), 1);
    corvane::SetTrustLocations({env.trustBundle()});
    QString signatureState;
    answerer.On("FilePropertiesDialog", [&](QWidget* dialog) {
      if (auto* state = dialog->findChild<QLabel*>("lbSignatureState"))
        signatureState = state->text();
      Click(dialog, "btClose");
    });
    auto* view = Find<QTreeView>(wnd.get(), "lstSignFile");
    const QPoint cell = view->visualRect(wnd->signList().index(0, 0)).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell);
    QCOMPARE(signatureState, QString("Valid"));
  }

  void timestampServerUnreachablePromptsOnceAndWarnsPerFile() {
    corvane::test::SigningEnvironment env;
    // The test roots are trusted: no run warns of a chain that reaches no trusted root.
    corvane::test::ScopedEnv trusted("CORVANECODE_TRUST", env.trustBundle());
    qputenv("CORVANECODE_TIMESTAMP_HOST", "127.0.0.1:1");  // nothing listens there
    const std::string exe = env.CopyImage("console-x64.exe", "app.exe");
    const std::string dll = env.CopyImage("library-x86.dll", "lib.dll");
    auto wnd = NewWindow();
    desktop_.file = QString::fromStdString(env.rootA().pfxPath);
    Click(wnd.get(), "btSelPfx");
    Find<QLineEdit>(wnd.get(), "edPswd")->setText(QString::fromStdString(env.rootA().password));
    desktop_.files = {QString::fromStdString(exe), QString::fromStdString(dll)};
    Click(wnd.get(), "btAdd");
    corvane::test::ModalAnswerer answerer;
    QStringList tips;
    answerer.On("TipWnd", [&](QWidget* tip) {
      tips << Find<QLabel>(tip, "txtTip")->text();
      Click(tip, "btOk");
    });
    QSignalSpy finished(wnd.get(), &CGuiWnd::signRunFinished);
    Click(wnd.get(), "btExe");
    QVERIFY(finished.wait(120000));
    QCOMPARE(tips.size(), 2);
    QVERIFY(tips[0].startsWith("Suggest choosing Corvane double-certificate"));
    QVERIFY(tips[1].startsWith("Unconnected the network, timestamp is disabled!"));
    const QString warning =
        "Warning:Signature successful, but not add a timestamp, please check the network";
    QCOMPARE(Column(*wnd, true, 1), (QStringList{warning, warning}));
    QCOMPARE(wnd->counters().Get("signFile"), 0);
  }

  void emptyListAndMissingCertificate() {
    auto wnd = NewWindow();
    QSignalSpy finished(wnd.get(), &CGuiWnd::signRunFinished);
    Click(wnd.get(), "btExe");
    QVERIFY(finished.wait(20000));
    QCOMPARE(Find<QLabel>(wnd.get(), "lbGlobalErr")->text(), QString("Please add files"));
    corvane::test::TempDir dir;
    Touch(dir / "x.exe");
    desktop_.files = {QString::fromStdString(dir / "x.exe")};
    Click(wnd.get(), "btAdd");
    Click(wnd.get(), "btExe");
    QVERIFY(finished.wait(20000));
    QCOMPARE(Find<QLabel>(wnd.get(), "lbGlobalErr")->text(),
             QString("Please select a certificate"));
    QCOMPARE(Column(*wnd, true, 1), QStringList{"Waiting..."});
  }

  void kernelRunWithForeignCertificateCancelled() {
    corvane::test::SigningEnvironment env;
    // The test roots are trusted: no run warns of a chain that reaches no trusted root.
    corvane::test::ScopedEnv trusted("CORVANECODE_TRUST", env.trustBundle());
    const std::string exe = env.CopyImage("console-x64.exe", "app.exe");
    const std::string sys = env.CopyImage("driver-x64.sys", "drv.sys");
    const std::string exeBefore = ReadAll(exe), sysBefore = ReadAll(sys);
    auto wnd = NewWindow();
    desktop_.file = QString::fromStdString(env.foreign().pfxPath);
    Click(wnd.get(), "btSelPfx");
    Find<QLineEdit>(wnd.get(), "edPswd")->setText(QString::fromStdString(env.foreign().password));
    desktop_.files = {QString::fromStdString(exe), QString::fromStdString(sys)};
    Click(wnd.get(), "btAdd");
    Click(wnd.get(), "opKernelSign");
    corvane::test::ModalAnswerer answerer;
    answerer.On("TipWnd", [](QWidget* tip) { Click(tip, "btOk"); });
    QString advice;
    answerer.On("CrossCertWnd", [&](QWidget* w) {
      advice = Find<QLabel>(w, "txtUseTip")->text();
      QTest::keyClick(w, Qt::Key_Escape);
    });
    QSignalSpy finished(wnd.get(), &CGuiWnd::signRunFinished);
    Click(wnd.get(), "btExe");
    QVERIFY(finished.wait(60000));
    QCOMPARE(answerer.seen("CrossCertWnd"), 1);
    QVERIFY(advice.contains("not issued by Corvane"));
    QCOMPARE(Column(*wnd, true, 1), (QStringList{"Waiting...", "Waiting..."}));
    QVERIFY(ReadAll(exe) == exeBefore);
    QVERIFY(ReadAll(sys) == sysBefore);

    // Accepting the matching cross-certificate through the picker signs in kernel mode.
    answerer.On("CrossCertWnd", [&](QWidget* w) {
      desktop_.file = QString::fromStdString(env.foreignCrossCert());
      Click(w, "btSelect");
      Click(w, "btSign");
    });
    Click(wnd.get(), "btExe");
    QVERIFY(finished.wait(120000));
    QCOMPARE(answerer.seen("CrossCertWnd"), 2);
    QCOMPARE(Column(*wnd, true, 1), (QStringList{"Complete", "Complete"}));
  }

  void storeCertificateWithThePinAskedOnce() {
    corvane::test::SigningEnvironment env;
    // The test roots are trusted: no run warns of a chain that reaches no trusted root.
    corvane::test::ScopedEnv trusted("CORVANECODE_TRUST", env.trustBundle());
    corvane::test::TokenWorld world;
    std::string subject;
    {
      std::shared_ptr<corvane::KeyStore> store = world.OpenStore();
      corvane::TokenKey key = store->GenerateRsaKey(0, 2048, "code signing");
      corvane::test::KeyedCert issuing = corvane::test::Authority("issuing-a1");
      store->PutCertificate(0, issuing.cert.get(), "", "issuing CA");
      corvane::test::CertSpec spec;
      spec.commonName = "Token Code Signer";
      corvane::X509Ptr cert = world.PutCert(*store, spec, issuing, key.key, key.id);
      subject = corvane::SubjectDisplayName(cert.get());
    }
    const std::string exe = env.CopyImage("console-x64.exe", "app.exe");
    auto wnd = NewWindow(false, {corvane::test::kSoftHsmModule});
    corvane::test::ModalAnswerer answerer;
    answerer.On("PinDialog", [](QWidget* dialog) {
      Find<QLineEdit>(dialog, "edPin")->setText(corvane::test::kTokenPin);
      Click(dialog, "btOk");
    });
    QStringList listed;
    answerer.On("StoreSelectDialog", [&](QWidget* dialog) {
      auto* list = Find<QTreeWidget>(dialog, "lstStoreCert");
      for (int i = 0; i < list->topLevelItemCount(); ++i) listed << list->topLevelItem(i)->text(0);
      Click(dialog, "btOk");
    });
    answerer.On("TipWnd", [](QWidget* tip) { Click(tip, "btOk"); });
    Click(wnd.get(), "btSelStoreCert");
    auto* edCert = Find<QLineEdit>(wnd.get(), "edCert");
    QTRY_COMPARE_WITH_TIMEOUT(edCert->text(), "Cert Store:" + QString::fromStdString(subject),
                              30000);
    QCOMPARE(listed, QStringList{QString::fromStdString(subject)});
    QVERIFY(!Find(wnd.get(), "edPswd")->isVisible());
    QVERIFY(!Find(wnd.get(), "lbPswd")->isVisible());
    desktop_.files = {QString::fromStdString(exe)};
    Click(wnd.get(), "btAdd");
    QSignalSpy finished(wnd.get(), &CGuiWnd::signRunFinished);
    Click(wnd.get(), "btExe");
    QVERIFY(finished.wait(120000));
    QCOMPARE(Column(*wnd, true, 1), QStringList{"Complete"});
    QCOMPARE(answerer.seen("PinDialog"), 1);
    std::string log;
    QVERIFY2(env.OsslVerify(exe, &log) == 0, log.c_str());
  }

  void cabinetRunSavesAfterTheBuildAndHandsTheProductOnOnce() {
    corvane::test::TempDir dir;
    const std::string a = dir / "a.txt", b = dir / "b.txt", product = dir / "made.cab";
    corvane::test::WriteFileBytes(a, "first");
    corvane::test::WriteFileBytes(b, "second");
    auto wnd = NewWindow();
    Click(wnd.get(), "btTabCabPack");
    desktop_.files = {QString::fromStdString(a), QString::fromStdString(b)};
    Click(wnd.get(), "btToolAdd");
    desktop_.saveAs = QString::fromStdString(product);
    for (int run = 0; run < 2; ++run) {
      wnd->SelectTab(CGuiWnd::kTabTool);
      Click(wnd.get(), "btGenCab");
      QTRY_VERIFY_WITH_TIMEOUT(!corvane::Workers().IsBusy(corvane::WorkerKind::Tool), 30000);
      QTRY_COMPARE(wnd->currentTab(), static_cast<int>(CGuiWnd::kTabSign));
      QCOMPARE(Column(*wnd, false, 1), (QStringList{"Complete", "Complete"}));
    }
    QCOMPARE(desktop_.saveFilters, (QStringList{"Cab (*.cab)", "Cab (*.cab)"}));
    QVERIFY(std::filesystem::exists(product));
    QCOMPARE(Column(*wnd, true, 0), QStringList{QString::fromStdString(product)});  // once
    QVERIFY(!Find(wnd.get(), "btGenCat")->isHidden());  // shown again, on its tab
    QVERIFY(Find(wnd.get(), "btToolAdd")->isEnabled());

    // A member that cannot go in: no save dialog, nothing handed on.
    const std::string gone = dir / "gone.txt";
    corvane::test::WriteFileBytes(gone, "soon gone");
    wnd->SelectTab(CGuiWnd::kTabTool);
    desktop_.files = {QString::fromStdString(gone)};
    Click(wnd.get(), "btToolAdd");
    std::filesystem::remove(gone);
    Click(wnd.get(), "btGenCab");
    QTRY_VERIFY_WITH_TIMEOUT(!corvane::Workers().IsBusy(corvane::WorkerKind::Tool), 30000);
    QTRY_COMPARE(Column(*wnd, false, 1).last(), QString("Error:Failed"));
    QCOMPARE(desktop_.saveFilters.size(), 2);
    QCOMPARE(wnd->currentTab(), static_cast<int>(CGuiWnd::kTabTool));
    QCOMPARE(Column(*wnd, true, 0).size(), 1);
  }

  void catalogRunNamesItselfInTheInf() {
    corvane::test::SigningEnvironment env;
    const std::string exe = env.CopyImage("console-x64.exe");
    const std::string inf = env.dir() / "driver.inf";
    corvane::test::WriteFileBytes(inf, "[Version]\r\nSignature=\"$WINDOWS NT$\"\r\n");
    auto wnd = NewWindow();
    Click(wnd.get(), "btTabCabPack");
    Find<QAbstractButton>(wnd.get(), "opAddSignList")->setChecked(false);
    desktop_.files = {QString::fromStdString(exe), QString::fromStdString(inf)};
    Click(wnd.get(), "btToolAdd");
    desktop_.saveAs = QString::fromStdString(env.dir() / "driver.cat");
    Click(wnd.get(), "btGenCat");
    QTRY_VERIFY_WITH_TIMEOUT(!corvane::Workers().IsBusy(corvane::WorkerKind::Tool), 30000);
    QTRY_COMPARE(Column(*wnd, false, 1), (QStringList{"Complete", "Complete"}));
    QCOMPARE(desktop_.saveFilters, QStringList{"Cat (*.cat)"});
    QVERIFY(std::filesystem::exists(env.dir() / "driver.cat"));
    QVERIFY(corvane::test::ReadFileBytes(inf).find("CatalogFile=driver.cat\r\n") !=
            std::string::npos);
    QCOMPARE(wnd->currentTab(), static_cast<int>(CGuiWnd::kTabTool));  // not handed on
    QVERIFY(Column(*wnd, true, 0).isEmpty());
  }

  void closingDuringARun() {
    corvane::test::SigningEnvironment env;
    // The test roots are trusted: no run warns of a chain that reaches no trusted root.
    corvane::test::ScopedEnv trusted("CORVANECODE_TRUST", env.trustBundle());
    QStringList files;
    for (int i = 0; i < 6; ++i)
      files << QString::fromStdString(
          env.CopyImage("console-x64.exe", "f" + std::to_string(i) + ".exe"));
    auto wnd = NewWindow(true);
    desktop_.file = QString::fromStdString(env.rootA().pfxPath);
    Click(wnd.get(), "btSelPfx");
    Find<QLineEdit>(wnd.get(), "edPswd")->setText(QString::fromStdString(env.rootA().password));
    desktop_.files = files;
    Click(wnd.get(), "btAdd");
    corvane::test::ModalAnswerer answerer;
    answerer.On("TipWnd", [](QWidget* tip) { Click(tip, "btOk"); });
    Click(wnd.get(), "btExe");
    QTRY_VERIFY_WITH_TIMEOUT(Column(*wnd, true, 1).first() == "Complete", 60000);
    Click(wnd.get(), "btClose");
    QWidget* closing = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == "ClosingTip" && w->isVisible()) closing = w;
    QVERIFY(closing);
    QCOMPARE(Find<QLabel>(closing, "txtTip")->text(), QString("Closing..."));
    QVERIFY(wnd->isVisible());
    QVERIFY(corvane::Workers().stopRequested());
    QTRY_VERIFY_WITH_TIMEOUT(!wnd->isVisible(), 60000);
    QVERIFY(!corvane::Workers().IsAnyWorkerRunning());
    const QStringList states = Column(*wnd, true, 1);
    QVERIFY(states.count("Complete") < 6);
    QCOMPARE(states.last(), QString("Waiting..."));
    // The stop request also ends the timestamp transfer of the file in progress: that one file
    // is signed without its timestamp.
    const QString unstamped =
        "Warning:Signature successful, but not add a timestamp, please check the network";
    QVERIFY(states.count(unstamped) <= 1);
    for (const QString& s : states) QVERIFY(s == "Complete" || s == "Waiting..." || s == unstamped);
  }
};

QTEST_MAIN(GuiWindowTest)
#include "gui_window_test.moc"
