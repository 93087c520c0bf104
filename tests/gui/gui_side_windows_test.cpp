// The version window and the feedback window, driven as a user would on Qt's offscreen
// platform, against the test download and log servers on 127.0.0.1.
#include <QAbstractButton>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>
#include <filesystem>
#include <fstream>

#include "base/language.h"
#include "base/own_version.h"
#include "base/run_log.h"
#include "base/worker_registry.h"
#include "fixtures/scoped_env.h"
#include "fixtures/temp_dir.h"
#include "gui/feedback_wnd.h"
#include "gui/ver_wnd.h"
#include "gui_test_support.h"
#include "net/server_hosts.h"
#include "servers/network_services.h"
#include "servers/silent_listener.h"

using corvane::gui::FeedBackWnd;
using corvane::gui::VerWnd;
using corvane::test::UpdateDocument;

namespace {

template <typename T = QWidget>
T* Find(QWidget* window, const char* name) {
  T* w = window->findChild<T*>(QString::fromLatin1(name));
  if (!w) qFatal("no control %s", name);
  return w;
}

QString Text(QWidget* window, const char* name) { return Find<QLabel>(window, name)->text(); }

void Click(QWidget* window, const char* name) {
  QTest::mouseClick(Find<QAbstractButton>(window, name), Qt::LeftButton);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

QJsonObject Json(const std::string& body) {
  return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
}

// Waits for the window's worker to leave, so that the next window can start its own.
void AwaitWorkersIdle() {
  QTRY_VERIFY_WITH_TIMEOUT(!corvane::Workers().IsBusy(corvane::WorkerKind::VersionWindow) &&
                               !corvane::Workers().IsBusy(corvane::WorkerKind::Feedback),
                           10000);
}

const QString kErrPrompt = QStringLiteral(
    "Please describe the phenomenon you experience problems, and it's will help us to quickly "
    "locate and solve problems. For example, the question is how to produce, what phenomenon?");
const QString kAdvicePrompt =
    QStringLiteral("Please describe your advice and comments help us improve the product.");
const QString kEmailTip = QStringLiteral("Please try to leave your e-mail");

}  // namespace

class GuiSideWindowsTest : public QObject {
  Q_OBJECT

 private:
  corvane::test::TempDir programDir_;
  corvane::test::TempDir certDir_;
  std::unique_ptr<corvane::test::LoopbackCertificates> certificates_;

  std::unique_ptr<FeedBackWnd> NewFeedback(QStringList* opened = nullptr) {
    corvane::gui::FeedbackWndOptions options;
    options.openUrl = [opened](const QString& url) {
      if (opened) *opened << url;
    };
    options.clickReportPeriod = std::chrono::milliseconds(200);
    auto wnd = std::make_unique<FeedBackWnd>(std::move(options), nullptr);
    wnd->show();
    wnd->activateWindow();
    if (!QTest::qWaitForWindowActive(wnd.get())) qWarning("feedback window not active");
    return wnd;
  }

  // Types `text` into the description as a user does: focus in, keys, focus out.
  static void TypeDescription(FeedBackWnd& wnd, const QString& text) {
    auto* desc = Find<QTextEdit>(&wnd, "edtDesc");
    desc->setFocus();
    QTest::keyClicks(desc, text);
    Find<QLineEdit>(&wnd, "edtEmail")->setFocus();
  }

  // The update of a copy in "My Tools". Complete: the new release starts with the hand-off
  // argument and the program ends. Cut short: nothing is started, the running version stays,
  // and the next try hands over.
  void RunUpdate(bool complete) {
    corvane::test::DownloadServer server(*certificates_);
    corvane::SetUpdateHost(server.hostPort());
    server.SetDocument(UpdateDocument::Normal, "99.0.0.1");
    corvane::test::TempDir install;
    const std::string directory = install.path() + "/My Tools";
    std::filesystem::create_directories(directory);
    const std::string program = directory + "/corvanecode";
    std::ofstream(program) << "old release\n";
    const std::string leftover = directory + "/corvanecode.new.exe";
    const std::string witness = directory + "/hand-off arguments";
    // The "new release": records the arguments it was started with.
    const std::string release =
        "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$(dirname \"$0\")/hand-off arguments\"\n";

    server.SetExecutable(complete ? release : "");
    bool ended = false;
    corvane::gui::VerWndOptions options;
    options.runningExecutable = program;
    options.endProgram = [&ended] { ended = true; };
    VerWnd wnd({}, std::move(options), nullptr);
    wnd.show();
    QTRY_COMPARE_WITH_TIMEOUT(Text(&wnd, "lbVerState"), QString("Have a new version!"), 15000);
    auto* progress = Find<QProgressBar>(&wnd, "progUpdate");
    QCOMPARE(progress->value(), 0);
    QSignalSpy finished(&wnd, &QDialog::finished);
    QSignalSpy progressed(progress, &QProgressBar::valueChanged);
    Click(&wnd, "btExeUpdate");
    QVERIFY(!Find(&wnd, "btClose")->isEnabled());
    QVERIFY(!Find(&wnd, "btExeUpdate")->isEnabled());
    QTest::keyClick(&wnd, Qt::Key_Escape);
    QCOMPARE(finished.count(), 0);
    if (!complete) {
      QTRY_COMPARE_WITH_TIMEOUT(Text(&wnd, "lbVerState"), QString("Update Failed!"), 15000);
      QVERIFY(Find(&wnd, "lbVerState")->styleSheet().contains("#FF0000"));
      QTRY_VERIFY(Find(&wnd, "btClose")->isEnabled());
      QVERIFY(!ended);
      QVERIFY(!std::filesystem::exists(leftover));
      QCOMPARE(ReadAll(program), std::string("old release\n"));
      QCOMPARE(progressed.count(), 1);  // 20, never 100
      QVERIFY(ReadAll(corvane::RunLogPath()).find("VerWnd::ExeUpdateThread") != std::string::npos);
      // The next try, with the download complete, hands over.
      QVERIFY(Find(&wnd, "btExeUpdate")->isEnabled());
      server.SetExecutable(release);
      Click(&wnd, "btExeUpdate");
      QTRY_VERIFY_WITH_TIMEOUT(ended, 15000);
      QCOMPARE(finished.at(0).at(0).toInt(), 1);
      QTRY_COMPARE_WITH_TIMEOUT(ReadAll(witness), "/path:\"" + program + "\"\n", 10000);
    } else {
      QTRY_VERIFY_WITH_TIMEOUT(ended, 15000);
      QCOMPARE(finished.count(), 1);
      QCOMPARE(finished.at(0).at(0).toInt(), 1);
      QCOMPARE(progressed.count(), 2);
      QCOMPARE(progressed.at(0).at(0).toInt(), 20);
      QCOMPARE(progress->value(), 100);
      QCOMPARE(Text(&wnd, "lbVerState"), QString("Updating, please don't close!"));
      QTRY_VERIFY_WITH_TIMEOUT(std::filesystem::exists(witness), 10000);
      QTRY_COMPARE(ReadAll(witness), "/path:\"" + program + "\"\n");
      QCOMPARE(ReadAll(leftover), release);
    }
    // The update asked every worker of the main window to stop.
    QVERIFY(corvane::Workers().stopRequested());
    AwaitWorkersIdle();
  }

 private slots:
  void initTestCase() {
    qputenv("CORVANECODE_PROGRAM_DIR", QByteArray::fromStdString(programDir_.path()));
    for (const char* host : {"CORVANECODE_LOG_HOST", "CORVANECODE_UPDATE_HOST",
                             "CORVANECODE_SCAN_HOST", "CORVANECODE_TIMESTAMP_HOST"})
      qputenv(host, "127.0.0.1:1");
    if (!qEnvironmentVariableIsSet("CORVANE_TEST_CHINESE"))
      corvane::SetUiLanguage(corvane::UiLanguage::English);
    certificates_ = std::make_unique<corvane::test::LoopbackCertificates>(
        corvane::test::WriteLoopbackCertificates(certDir_.path()));
    corvane::SetCaBundlePath(certificates_->caCert);
  }

  void cleanup() {
    AwaitWorkersIdle();
    corvane::SetUpdateHost("127.0.0.1:1");
    corvane::SetLogHost("127.0.0.1:1");
  }

  void versionWindowStates() {
    corvane::test::DownloadServer server(*certificates_);
    const std::string own = corvane::OwnVersion();
    const struct {
      const char* name;
      bool serverUp;
      UpdateDocument document;
      std::string offered;
      QString state;
      QString notes;
      QString button;
      bool newVersionShown;
      bool progressShown;
    } cases[] = {
        {"newer", true, UpdateDocument::Normal, "99.0.0.1", "Have a new version!",
         "Fixed several problems.", "Update Now", true, true},
        {"same, second entry", true, UpdateDocument::SecondEntry, own,
         "The current is the latest version!", "Update: no", "Close", true, false},
        {"not XML", true, UpdateDocument::NotXml, "", "Not connected to the service!", "", "Close",
         false, false},
        {"no server", false, UpdateDocument::Normal, "99.0.0.1", "Not connected to the service!",
         "", "Close", false, false},
    };
    for (const auto& c : cases) {
      qInfo("case: %s", c.name);
      server.SetDocument(c.document, c.offered);
      corvane::SetUpdateHost(c.serverUp ? server.hostPort() : "127.0.0.1:1");
      VerWnd wnd({}, {}, nullptr);
      wnd.show();
      // Before the check's answer: checking, nothing to press but nothing to close either.
      QCOMPARE(Text(&wnd, "lbVerState"), QString("Checking version..."));
      QVERIFY(!Find(&wnd, "btClose")->isEnabled());
      QVERIFY(!Find(&wnd, "btExeUpdate")->isEnabled());
      QVERIFY(!Find(&wnd, "lbNewVer")->isVisible());
      QCOMPARE(Text(&wnd, "lbCurVer"), "Current version: " + QString::fromStdString(own));

      QTRY_COMPARE_WITH_TIMEOUT(Text(&wnd, "lbVerState"), c.state, 15000);
      QVERIFY(Find(&wnd, "btClose")->isEnabled());
      QVERIFY(Find(&wnd, "btExeUpdate")->isEnabled());
      QCOMPARE(Find<QPushButton>(&wnd, "btExeUpdate")->text(), c.button);
      QCOMPARE(Find<QTextEdit>(&wnd, "edtDesp")->toPlainText(), c.notes);
      QVERIFY(Find<QTextEdit>(&wnd, "edtDesp")->isReadOnly());
      QCOMPARE(Find(&wnd, "lbNewVer")->isVisible(), c.newVersionShown);
      if (c.newVersionShown)
        QCOMPARE(Text(&wnd, "lbNewVer"), "Latest version: " + QString::fromStdString(c.offered));
      QCOMPARE(Find(&wnd, "progUpdate")->isVisible(), c.progressShown);
      QCOMPARE(wnd.status().hasNew, c.progressShown);
      if (!c.progressShown) {
        // Without a newer release the button only closes the window.
        QSignalSpy finished(&wnd, &QDialog::finished);
        Click(&wnd, "btExeUpdate");
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), 1);
      }
      AwaitWorkersIdle();
    }

    // A window closed while its check waits on a silent server abandons that check: the next
    // window checks at once.
    {
      corvane::test::SilentListener silent;
      corvane::SetUpdateHost(silent.hostPort());
      auto waiting =
          std::make_unique<VerWnd>(corvane::UpdateStatus{}, corvane::gui::VerWndOptions{}, nullptr);
      QTest::qWait(300);
      QVERIFY(corvane::Workers().IsBusy(corvane::WorkerKind::VersionWindow));
      waiting.reset();
      server.SetDocument(UpdateDocument::Normal, "99.0.0.1");
      corvane::SetUpdateHost(server.hostPort());
      VerWnd next({}, {}, nullptr);
      QTRY_COMPARE_WITH_TIMEOUT(Text(&next, "lbVerState"), QString("Have a new version!"), 5000);
    }

    // What the main window's check found is shown at once, without asking the server.
    const int requests = server.requestCount();
    corvane::UpdateStatus known{true, "2.0.0.10", "2.0.0.2", "Known notes."};
    VerWnd wnd(known, {}, nullptr);
    wnd.show();
    QCOMPARE(Text(&wnd, "lbVerState"), QString("Have a new version!"));
    QCOMPARE(Text(&wnd, "lbCurVer"), QString("Current version: 2.0.0.2"));
    QCOMPARE(Text(&wnd, "lbNewVer"), QString("Latest version: 2.0.0.10"));
    QCOMPARE(Find<QTextEdit>(&wnd, "edtDesp")->toPlainText(), QString("Known notes."));
    QVERIFY(Find(&wnd, "btClose")->isEnabled());
    QTest::qWait(200);
    QCOMPARE(server.requestCount(), requests);
    QSignalSpy finished(&wnd, &QDialog::finished);
    Click(&wnd, "btClose");
    QCOMPARE(finished.at(0).at(0).toInt(), 2);
  }

  void versionWindowUpdateHandsOff() { RunUpdate(true); }
  // The update's stop request is never withdrawn: each case needs a process of its own.
  void versionWindowFailedUpdateKeepsTheProgramAndMayBeRetried() { RunUpdate(false); }

  void mainWindowButtonsOpenTheWindows() {
    corvane::test::ScriptedDesktop desktop;
    corvane::gui::GuiOptions options;
    options.services = desktop.Services();
    options.startBackgroundWorkers = false;
    corvane::gui::CGuiWnd main(std::move(options));
    main.show();
    corvane::test::ModalAnswerer answerer;
    QString versionState, feedbackTitle;
    answerer.On("VerWnd", [&](QWidget* w) {
      QTRY_COMPARE_WITH_TIMEOUT(Text(w, "lbVerState"), QString("Not connected to the service!"),
                                15000);
      versionState = Text(w, "lbVerState");
      Click(w, "btClose");
    });
    answerer.On("FeedBackWnd", [&](QWidget* w) {
      feedbackTitle = Text(w, "title");
      Click(w, "btnFeedbackForum");
      Click(w, "btClose");
    });
    Click(&main, "btCheckVer");
    QCOMPARE(answerer.seen("VerWnd"), 1);
    QCOMPARE(versionState, QString("Not connected to the service!"));
    Click(&main, "btForum");
    QCOMPARE(answerer.seen("FeedBackWnd"), 1);
    QCOMPARE(feedbackTitle, QString("Feedback"));
    QCOMPARE(desktop.openedUrls, QStringList{"https://bbs.corvane.example/forum-58-1.html"});
  }

  void feedbackEmptyDescription() {
    corvane::test::LogServer server(*certificates_);
    corvane::SetLogHost(server.hostPort());
    auto wnd = NewFeedback();
    auto* desc = Find<QTextEdit>(wnd.get(), "edtDesc");
    auto* email = Find<QLineEdit>(wnd.get(), "edtEmail");
    QVERIFY(Find<QAbstractButton>(wnd.get(), "opError")->isChecked());
    QCOMPARE(desc->toPlainText(), kErrPrompt);
    QVERIFY(desc->styleSheet().contains("#8C8C8C"));
    QCOMPARE(email->text(), kEmailTip);
    QCOMPARE(email->maxLength(), 100);
    desc->setPlainText(QString(3100, 'x'));
    QCOMPARE(desc->toPlainText().size(), 3000);
    desc->setPlainText(kErrPrompt);
    QCOMPARE(Find<QPushButton>(wnd.get(), "btnFeedbackForum")->toolTip(),
             QString("Feedback Forum"));

    // Focus takes the placeholder away, leaving with nothing typed puts it back.
    desc->setFocus();
    QTRY_VERIFY(desc->toPlainText().isEmpty());
    QVERIFY(desc->styleSheet().contains("#000000"));
    email->setFocus();
    QTRY_COMPARE(email->text(), QString());
    QTRY_COMPARE(desc->toPlainText(), kErrPrompt);
    Click(wnd.get(), "opAdvice");
    QCOMPARE(desc->toPlainText(), kAdvicePrompt);
    Click(wnd.get(), "opError");
    QCOMPARE(desc->toPlainText(), kErrPrompt);

    // The untouched placeholder, and blanks alone, are refused and nothing is sent.
    for (const QString& typed : {QString(), QStringLiteral("  \t ")}) {
      if (!typed.isEmpty()) {
        desc->setFocus();
        QTest::keyClicks(desc, typed);
      }
      Click(wnd.get(), "btnSubmit");
      QTRY_COMPARE(Text(wnd.get(), "txtPrompts"),
                   QString("Description information can not be empty."));
      QVERIFY(Find(wnd.get(), "txtPrompts")->styleSheet().contains("#FF0000"));
      AwaitWorkersIdle();
      Find<QLabel>(wnd.get(), "txtPrompts")->clear();
    }
    QCOMPARE(email->text(), kEmailTip);  // left empty: the tip again
    QVERIFY(email->styleSheet().contains("#8C8C8C"));
    QTest::qWait(200);
    QVERIFY(server.bodies().empty());
  }

  void feedbackSuccessCaptionClose() {
    corvane::test::LogServer server(*certificates_);
    corvane::SetLogHost(server.hostPort());
    // An earlier failure of this run goes with the report.
    corvane::LogError("%s, %s", "CGuiWnd::ExeSignTaskLoop", "file is in use");
    QStringList opened;
    auto wnd = NewFeedback(&opened);
    TypeDescription(*wnd, "The list stays empty after a drop.");
    Click(wnd.get(), "opAdvice");  // a typed text stays when the type changes
    QCOMPARE(Find<QTextEdit>(wnd.get(), "edtDesc")->toPlainText(),
             QString("The list stays empty after a drop."));
    Click(wnd.get(), "btnSubmit");
    QTRY_COMPARE_WITH_TIMEOUT(Text(wnd.get(), "txtPrompts"),
                              QString("Submitted successfully! Thank you for your support of our "
                                      "work."),
                              15000);
    QVERIFY(Find(wnd.get(), "txtPrompts")->styleSheet().contains("#279E36"));
    QCOMPARE(Find<QPushButton>(wnd.get(), "btnSubmit")->text(), QString("Close"));
    QVERIFY(Find(wnd.get(), "btnSubmit")->isEnabled());
    QVERIFY(Find(wnd.get(), "btClose")->isEnabled());
    QCOMPARE(server.bodies().size(), std::size_t{1});
    const QJsonObject body = Json(server.bodies().front());
    QCOMPARE(body["type"].toString(), QString("msgReq"));
    QCOMPARE(body["msgType"].toString(), QString("advice"));
    QCOMPARE(body["desc"].toString(), QString("The list stays empty after a drop."));
    QCOMPARE(body["contact"].toString(), QString());  // left at its placeholder
    QCOMPARE(body["platform"].toString(), QString("windows"));
    QCOMPARE(body["version"].toString(), QString::fromStdString(corvane::OwnVersion()));
    QVERIFY2(
        body["loginfo"].toString().endsWith("[Error] CGuiWnd::ExeSignTaskLoop, file is in use"),
        qPrintable(body["loginfo"].toString()));

    // Three clicks on the forum link: the page each time, one report counting three.
    for (int i = 0; i < 3; ++i) Click(wnd.get(), "btnFeedbackForum");
    QCOMPARE(opened.size(), 3);
    QCOMPARE(opened.front(), QString("https://bbs.corvane.example/forum-58-1.html"));
    QTRY_COMPARE_WITH_TIMEOUT(server.bodies().size(), std::size_t{2}, 10000);
    const QJsonObject action = Json(server.bodies().back());
    QCOMPARE(action["type"].toString(), QString("userActionReq"));
    QCOMPARE(action["action"].toString(), QString("otherLink"));
    QCOMPARE(action["actionCnt"].toString(), QString("3"));

    // Now the button closes the window.
    QSignalSpy finished(wnd.get(), &QDialog::finished);
    Click(wnd.get(), "btnSubmit");
    QCOMPARE(finished.count(), 1);
    QCOMPARE(server.bodies().size(), std::size_t{2});
  }

  void feedbackFailureTexts() {
    corvane::test::LogServer server(*certificates_);
    server.SetAnswerRightType(false);
    const struct {
      const char* name;
      bool serverUp;
      QString prompt;
      std::string logged;
    } cases[] = {
        {"wrong answer", true, "Submitted failed! Please try again.",
         "FeedBackWnd::Submit : type: wrongResp, message: rejected"},
        {"no server", false, "Communication failed, please check the network settings.",
         "FeedBackWnd::Submit : communication failed"},
    };
    for (const auto& c : cases) {
      qInfo("case: %s", c.name);
      corvane::SetLogHost(c.serverUp ? server.hostPort() : "127.0.0.1:1");
      auto wnd = NewFeedback();
      TypeDescription(*wnd, "Signing stops at the second file.");
      Click(wnd.get(), "btnSubmit");
      QTRY_COMPARE_WITH_TIMEOUT(Text(wnd.get(), "txtPrompts"), c.prompt, 15000);
      QVERIFY(Find(wnd.get(), "txtPrompts")->styleSheet().contains("#FF0000"));
      QCOMPARE(Find<QPushButton>(wnd.get(), "btnSubmit")->text(), QString("Submit"));
      for (const char* name :
           {"btnSubmit", "btClose", "edtDesc", "edtEmail", "opError", "opAdvice"})
        QVERIFY2(Find(wnd.get(), name)->isEnabled(), name);
      QVERIFY(ReadAll(corvane::RunLogPath()).find(c.logged) != std::string::npos);
      AwaitWorkersIdle();
    }
    QCOMPARE(server.bodies().size(), std::size_t{1});
  }

  void feedbackDotsWhileSending() {
    // A server that never answers; the exchange gives up after a few seconds.
    corvane::test::SilentListener silent;
    corvane::test::ScopedEnv limit("CORVANECODE_TRANSFER_TIME_LIMIT", "3.3");
    corvane::SetLogHost(silent.hostPort());
    auto wnd = NewFeedback();
    TypeDescription(*wnd, "Nothing happens.");
    auto* dots = wnd->findChild<QTimer*>("submitDots");
    QVERIFY(dots);
    QCOMPARE(dots->interval(), 500);
    QStringList shown;
    bool disabledWhileSending = true;
    connect(dots, &QTimer::timeout, this, [&] {
      shown << Text(wnd.get(), "txtPrompts");
      for (const char* name :
           {"btnSubmit", "btClose", "edtDesc", "edtEmail", "opError", "opAdvice"})
        disabledWhileSending = disabledWhileSending && !Find(wnd.get(), name)->isEnabled();
    });
    QSignalSpy finished(wnd.get(), &QDialog::finished);
    Click(wnd.get(), "btnSubmit");
    QTRY_COMPARE(Text(wnd.get(), "txtPrompts"), QString("Submitting"));
    QVERIFY(Find(wnd.get(), "txtPrompts")->styleSheet().contains("#279E36"));
    QTest::keyClick(wnd.get(), Qt::Key_Escape);  // no closing while sending
    QTRY_COMPARE_WITH_TIMEOUT(Text(wnd.get(), "txtPrompts"),
                              QString("Communication failed, please check the network settings."),
                              15000);
    QCOMPARE(finished.count(), 0);
    QVERIFY(disabledWhileSending);
    QVERIFY2(shown.size() >= 4, qPrintable(shown.join('|')));
    for (int i = 0; i < shown.size(); ++i) QCOMPARE(shown[i], "Submitting" + QString(i % 4, '.'));
    QVERIFY(!dots->isActive());
    QVERIFY(Find(wnd.get(), "btnSubmit")->isEnabled());
    QTest::keyClick(wnd.get(), Qt::Key_Escape);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), 2);
  }

  void feedbackClosedWhileSendingAbandonsTheExchange() {
    corvane::test::SilentListener silent;
    corvane::SetLogHost(silent.hostPort());
    auto wnd = NewFeedback();
    TypeDescription(*wnd, "Nothing happens.");
    Click(wnd.get(), "btnSubmit");
    QTRY_VERIFY(!Find(wnd.get(), "btnSubmit")->isEnabled());
    QTest::qWait(300);
    QVERIFY(corvane::Workers().IsBusy(corvane::WorkerKind::Feedback));
    wnd.reset();
    QTRY_VERIFY_WITH_TIMEOUT(!corvane::Workers().IsBusy(corvane::WorkerKind::Feedback), 5000);
    QVERIFY(ReadAll(corvane::RunLogPath()).find("FeedBackWnd::Submit : communication failed") !=
            std::string::npos);
  }

  void chineseTexts() {
    if (!qEnvironmentVariableIsSet("CORVANE_TEST_CHINESE")) QSKIP("run with CORVANE_TEST_CHINESE");
    VerWnd version({}, {}, nullptr);
    QCOMPARE(Text(&version, "lbVerState"), QString::fromUtf8("正在检查版本..."));
    QTRY_COMPARE_WITH_TIMEOUT(Text(&version, "lbVerState"), QString::fromUtf8("未连接到服务！"),
                              15000);
    QCOMPARE(Find<QPushButton>(&version, "btExeUpdate")->text(), QString::fromUtf8("关 闭"));
    QCOMPARE(version.windowTitle(), QString::fromUtf8("柯文代码签名工具CorvaneCode"));

    auto wnd = NewFeedback();
    QCOMPARE(wnd->windowTitle(), QString::fromUtf8("意见反馈"));
    QCOMPARE(Find<QLineEdit>(wnd.get(), "edtEmail")->text(),
             QString::fromUtf8("请尽量留下您的邮箱"));
    Click(wnd.get(), "btnSubmit");
    QTRY_COMPARE(Text(wnd.get(), "txtPrompts"), QString::fromUtf8("描述信息不能为空。"));
    AwaitWorkersIdle();
    // Typed through an input method: the key simulation knows Latin-1 only.
    auto* desc = Find<QTextEdit>(wnd.get(), "edtDesc");
    desc->setFocus();
    QTRY_VERIFY(desc->toPlainText().isEmpty());
    desc->insertPlainText(QString::fromUtf8("签名在第二个文件停止。"));
    Find<QLineEdit>(wnd.get(), "edtEmail")->setFocus();
    Click(wnd.get(), "btnSubmit");
    QTRY_COMPARE_WITH_TIMEOUT(Text(wnd.get(), "txtPrompts"),
                              QString::fromUtf8("通信失败，请检查网络设置。"), 15000);
  }
};

QTEST_MAIN(GuiSideWindowsTest)
#include "gui_side_windows_test.moc"
