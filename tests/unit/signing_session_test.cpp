#include "tasks/signing_session.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/program_dir.h"
#include "base/status.h"
#include "base/window_keys.h"
#include "crypto/cert_decode.h"
#include "crypto/signed_message.h"
#include "crypto/x509_names.h"
#include "fixtures/scoped_env.h"
#include "fixtures/scripted_interaction.h"
#include "fixtures/signing_environment.h"
#include "formats/pe/pe_image.h"
#include "sign/authenticode_verifier.h"
#include "tasks/task_texts.h"

namespace corvane {
namespace {

class SigningSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramDirectory(env_.dir().path());
    session_.SetNetworkChecks(test::TimestampOnlyChecks());
  }
  void TearDown() override { SetProgramDirectory(""); }

  SignRunSettings Settings(const test::TestSigner& signer) {
    session_.ChoosePfx(signer.pfxPath);
    SignRunSettings settings;
    settings.password = signer.password;
    return settings;
  }
  std::string Log() {
    return test::ReadFileBytes(env_.dir() / ("RunLog/" + ProgramFileName() + ".log"));
  }

  test::SigningEnvironment env_;
  // The test roots are trusted, so no run warns of a chain that reaches no trusted root.
  test::ScopedEnv trust_{"CORVANECODE_TRUST", env_.trustBundle()};
  SkinTexts texts_ = GetSkinLan(kGuiWndOwner, kGuiWndKeys, UiLanguage::English);
  WorkerRegistry workers_;
  UsageCounters counters_;
  SigningSession session_{workers_, counters_, texts_};
};

TEST_F(SigningSessionTest, ScansSignsAndReportsEveryRowInOrder) {
  std::string clean = env_.CopyImage("console-x64.exe");
  std::string virus = env_.CopyImage("library-x64.dll", "virus.dll");
  std::string vanished = env_.CopyImage("library-x86.dll", "vanished.dll");
  std::string pdf = env_.dir() / "doc.pdf";
  test::WriteFileBytes(pdf, "%PDF-1.4");
  std::string virusBefore = test::ReadFileBytes(virus);
  NetworkChecks checks;
  checks.isCloudReachable = [] { return true; };
  checks.isTimestampReachable = [] { return true; };
  checks.isFileClean = [&](const std::string& path) {
    if (path == vanished) RaiseStatus(StatusCode::FileNotExist);
    return path != virus;
  };
  session_.SetNetworkChecks(checks);
  std::filesystem::remove(vanished);
  test::ScriptedInteraction run;
  session_.RunSign({clean, virus, vanished, pdf}, Settings(env_.rootA()), run);

  EXPECT_EQ(run.state(0), "Complete");
  EXPECT_EQ(run.rowState(0), RowState::Complete);
  EXPECT_EQ(run.state(1), "Error:Viruses or malicious file");
  EXPECT_EQ(run.state(2), "Error:Invalid path");
  EXPECT_EQ(run.state(3),
            "Error:Unknown error, please send feedback, we will fix it as soon as possible!");
  for (std::size_t row : {1u, 2u, 3u}) EXPECT_EQ(run.rowState(row), RowState::Error);
  EXPECT_EQ(test::ReadFileBytes(virus), virusBefore);
  EXPECT_EQ(counters_.Get("signFile"), 1) << "the reporter's counter is the one counted";
  EXPECT_EQ(run.EventsStartingWith("row 0"),
            (std::vector<std::string>{"row 0: Waiting...", "row 0: Virus Scanning...",
                                      "row 0: Signing...", "row 0: Complete"}));
  std::string log = Log();
  EXPECT_NE(log.find("CGuiWnd::ExeVirusScan, file not exist"), std::string::npos) << log;
  EXPECT_NE(log.find("CGuiWnd::ExeSignTaskLoop, " + vanished + ", invalid path"),
            std::string::npos);

  // The advice comes once per start; an unreachable cloud means no row is ever scanned.
  checks.isCloudReachable = [] { return false; };
  session_.SetNetworkChecks(checks);
  test::ScriptedInteraction second;
  session_.RunSign({clean}, Settings(env_.rootA()), second);
  EXPECT_TRUE(second.EventsStartingWith("tip: ").empty());
  EXPECT_TRUE(second.EventsStartingWith("row 0: Virus").empty());
  EXPECT_EQ(second.state(0), "Complete");
}

TEST_F(SigningSessionTest, PrepareAsksInOrderAndTheFileLoopAsksNothing) {
  std::string exe = env_.CopyImage("console-x64.exe");
  const std::string cross = env_.foreignCrossCert();
  NetworkChecks checks;
  checks.isCloudReachable = [] { return false; };
  checks.isTimestampReachable = [] { return false; };
  session_.SetNetworkChecks(checks);
  test::ScriptedInteraction run;
  run.crossCert = cross;
  SignRunSettings settings = Settings(env_.foreign());
  settings.kernelSign = true;
  session_.RunSign({exe}, settings, run);

  const std::vector<std::string> expected = {"message cleared",
                                             "run started",
                                             "row 0: Waiting...",
                                             "tip: " + texts_.Get("UiDoubleCertTip"),
                                             "cross-certificate asked",
                                             "tip: " + texts_.Get("TipMsgNotConn"),
                                             "file loop entered",
                                             "row 0: Signing...",
                                             "row 0: Complete",
                                             "file loop left",
                                             "run ended"};
  EXPECT_EQ(run.events(), expected);
  EXPECT_EQ(counters_.Get("signFile"), 1);
  EXPECT_EQ(session_.crossCertPath(), cross);
}

TEST_F(SigningSessionTest, AChainThatReachesNoTrustedRootIsWarnedAboutBeforeTheFirstFile) {
  std::string exe = env_.CopyImage("console-x64.exe");
  test::ScopedEnv untrusted("CORVANECODE_TRUST", env_.tsaRoot());
  test::ScriptedInteraction run;
  SignRunSettings settings = Settings(env_.rootA());
  settings.adviseDoubleCertificate = false;
  session_.RunSign({exe}, settings, run);
  const std::vector<std::string> tips = run.EventsStartingWith("tip: ");
  ASSERT_EQ(tips.size(), 1u);
  EXPECT_EQ(tips[0], "tip: " + texts_.Get("UiTipChainNotTrusted"));
  EXPECT_EQ(run.state(0), "Complete") << "a warning, not a refusal";
}

TEST_F(SigningSessionTest, PreRunChecksStopBeforeAnyFileWithTheirMessage) {
  std::string exe = env_.CopyImage("console-x64.exe");
  test::CertSpec expired;
  test::KeyedCert issuer = test::Authority("issuing-a1");
  expired.notAfterSeconds = -5;
  expired.notBeforeSeconds = -100;
  test::KeyedCert leaf = test::Issue(expired, &issuer);
  std::string expiredPfx = env_.dir() / "expired.pfx";
  test::WriteFileBytes(expiredPfx, test::MakePfx({"pw", {leaf.cert.get()}, leaf.key.get()}));

  struct Case {
    const char* name;
    std::function<void(SigningSession&)> choose;
    std::string password;
    std::vector<std::string> paths;
    const char* message;
  };
  const std::string pfx = env_.rootA().pfxPath, password = env_.rootA().password;
  const Case cases[] = {
      {"empty list",
       [&](SigningSession& s) { s.ChoosePfx(pfx); },
       password,
       {},
       "Please add files"},
      {"no certificate", [](SigningSession&) {}, "", {exe}, "Please select a certificate"},
      {"missing file",
       [&](SigningSession& s) { s.ChoosePfx(pfx + ".gone"); },
       password,
       {exe},
       "Certificate file not exist"},
      {"wrong password",
       [&](SigningSession& s) { s.ChoosePfx(pfx); },
       "nope",
       {exe},
       "Password error or certificate error"},
      {"expired",
       [&](SigningSession& s) { s.ChoosePfx(expiredPfx); },
       "pw",
       {exe},
       "The certificate has expired"},
      {"store without identity",
       [](SigningSession& s) { s.ChooseStoreCertificate({}); },
       "",
       {exe},
       "Unknown error, please send feedback, we will fix it as soon as possible!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SigningSession session(workers_, counters_, texts_);
    c.choose(session);
    SignRunSettings settings;
    settings.password = c.password;
    test::ScriptedInteraction run;
    session.RunSign(c.paths, settings, run);
    EXPECT_EQ(run.EventsStartingWith("message: "),
              std::vector<std::string>{std::string("message: ") + c.message});
    for (const SignTask& row : run.rows()) EXPECT_EQ(row.rowState, RowState::Waiting);
    EXPECT_TRUE(run.EventsStartingWith("tip: ").empty()) << "the advice is not used up";
  }
}

TEST_F(SigningSessionTest, KernelModeOutsideTheHierarchyAsksOnceAndACancelLeavesEveryRowWaiting) {
  std::string exe = env_.CopyImage("console-x64.exe");
  std::string sys = env_.CopyImage("driver-x64.sys");
  test::ScriptedInteraction cancelled;
  session_.RunSign({exe, sys}, Settings(env_.foreign()), cancelled);
  EXPECT_EQ(cancelled.EventsStartingWith("cross-certificate asked").size(), 1u);
  EXPECT_EQ(cancelled.state(0), "Waiting...");
  EXPECT_EQ(cancelled.state(1), "Waiting...");
  EXPECT_TRUE(cancelled.EventsStartingWith("file loop").empty());

  // General mode without a driver does not ask.
  test::ScriptedInteraction general;
  session_.RunSign({exe}, Settings(env_.foreign()), general);
  EXPECT_TRUE(general.EventsStartingWith("cross-certificate asked").empty());
  EXPECT_EQ(general.state(0), "Complete");
}

TEST_F(SigningSessionTest, ChoosingACertificateForgetsTheCrossCertificateOfTheLastKernelRun) {
  const std::string cross = env_.foreignCrossCert();
  const std::string crossDer = CertDer(CertFromFile(cross).get());
  std::string first = env_.CopyImage("driver-x64.sys");
  test::ScriptedInteraction foreign;
  foreign.crossCert = cross;
  session_.RunSign({first}, Settings(env_.foreign()), foreign);
  ASSERT_EQ(foreign.state(0), "Complete: Sign the SYS files using kernel mode");
  EXPECT_EQ(session_.crossCertPath(), cross);

  // A certificate of the authority's own hierarchy: its built-in cross-certificates are used,
  // not the foreign one chosen before.
  std::string second = env_.CopyImage("driver-x64.sys", "second.sys");
  test::ScriptedInteraction own;
  SignRunSettings settings = Settings(env_.rootA());
  EXPECT_EQ(session_.crossCertPath(), "");
  session_.RunSign({second}, settings, own);
  ASSERT_EQ(own.state(0), "Complete: Sign the SYS files using kernel mode");
  EXPECT_TRUE(own.EventsStartingWith("cross-certificate asked").empty());
  std::vector<std::string> certs = SignedMessage::Decode(pe::ReadSignature(second)).Certificates();
  EXPECT_EQ(std::count(certs.begin(), certs.end(), crossDer), 0);
  EXPECT_EQ(env_.OsslVerify(second), 0);
}

TEST_F(SigningSessionTest, AStopRequestLeavesTheRemainingRowsWaiting) {
  std::string a = env_.CopyImage("console-x64.exe"), b = env_.CopyImage("console-x86.exe");
  test::ScriptedInteraction run;
  run.onRow = [&](std::size_t row, RowState state) {
    if (row == 0 && state == RowState::Complete) workers_.RequestStop();
  };
  session_.RunSign({a, b}, Settings(env_.rootA()), run);
  EXPECT_EQ(run.state(0), "Complete");
  EXPECT_EQ(run.state(1), "Waiting...");
  EXPECT_EQ(run.events().back(), "run ended");
}

TEST_F(SigningSessionTest, ParallelJobsSignEveryFileAndKeepEachRowsStepsInOrder) {
  std::vector<std::string> paths;
  for (int i = 0; i < 6; ++i)
    paths.push_back(i % 2 ? env_.CopyImage("library-x64.dll", "lib" + std::to_string(i) + ".dll")
                          : env_.CopyImage("console-x64.exe", "app" + std::to_string(i) + ".exe"));
  const std::string txt = env_.dir() / "notes.txt";
  test::WriteFileBytes(txt, "text");
  paths.push_back(txt);
  paths.push_back(paths[1]);  // the same file twice: its two signings run one after the other
  NetworkChecks checks;
  checks.isCloudReachable = [] { return true; };
  checks.isTimestampReachable = [] { return true; };
  checks.isFileClean = [](const std::string&) { return true; };
  session_.SetNetworkChecks(checks);
  SignRunSettings settings = Settings(env_.rootA());
  settings.jobs = 4;
  test::ScriptedInteraction run;
  session_.RunSign(paths, settings, run);

  for (std::size_t row = 0; row < paths.size(); ++row) {
    SCOPED_TRACE(paths[row]);
    const std::string prefix = "row " + std::to_string(row) + ":";
    if (paths[row] == txt) {
      EXPECT_EQ(run.state(row), "Error:File is not supported");
      continue;
    }
    EXPECT_EQ(run.EventsStartingWith(prefix),
              (std::vector<std::string>{prefix + " Waiting...", prefix + " Virus Scanning...",
                                        prefix + " Signing...", prefix + " Complete"}));
    const VerifyReport report = VerifyTrust(paths[row]);
    EXPECT_TRUE(report.trusted);
    EXPECT_TRUE(report.nested.empty());
  }
  EXPECT_EQ(counters_.Get("signFile"), 7);
}

TEST_F(SigningSessionTest, VerifyRunReportsPeFilesAndLeavesOthersWaiting) {
  std::string signedExe = env_.CopyImage("console-x64.exe");
  test::ScriptedInteraction sign;
  session_.RunSign({signedExe}, Settings(env_.rootA()), sign);
  ASSERT_EQ(sign.state(0), "Complete");

  SetTrustLocations({env_.trustBundle()});
  std::string unsignedExe = env_.CopyImage("console-x86.exe");
  std::string sys = env_.CopyImage("driver-x64.sys");
  std::string txt = env_.dir() / "a.txt";
  test::WriteFileBytes(txt, "t");
  test::ScriptedInteraction verify;
  session_.RunVerify({signedExe, unsignedExe, sys, txt, env_.dir() / "gone.exe"}, {}, verify);
  SetTrustLocations({});
  EXPECT_EQ(verify.state(0), "Complete");
  EXPECT_EQ(verify.state(1), "Verify signature failed");
  EXPECT_EQ(verify.rowState(1), RowState::VerifyFailed);
  EXPECT_EQ(verify.state(2), "Waiting...");
  EXPECT_EQ(verify.state(3), "Prompt: File type is not supported");
  EXPECT_EQ(verify.state(4), "Verify signature failed");
}

TEST(TaskTexts, StatusTextsMapToRowTextsExactly) {
  SkinTexts texts = GetSkinLan(kGuiWndOwner, kGuiWndKeys, UiLanguage::English);
  struct Case {
    const char* status;
    const char* row;
    RowState state;
  } cases[] = {
      {"succeed", "Complete", RowState::Complete},
      {"sign succeed, timestamp failed",
       "Warning:Signature successful, but not add a timestamp, please check the network",
       RowState::Warning},
      {"file is in use", "Error:Files are in use", RowState::Error},
      {"cert pswd is wrong", "Error:Password error", RowState::Error},
      {"Succeed", "Error:Unknown error, please send feedback, we will fix it as soon as possible!",
       RowState::Error},
      {"CabFileSign::EmbedSignedData, undefined",
       "Error:Unknown error, please send feedback, we will fix it as soon as possible!",
       RowState::Error},
      {"algorithm is not supported",
       "Error:Unknown error, please send feedback, we will fix it as soon as possible!",
       RowState::Error},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TaskErrorText(ExceptionEx(c.status), texts), c.row) << c.status;
    EXPECT_EQ(TaskErrorState(ExceptionEx(c.status)), c.state) << c.status;
  }
  EXPECT_EQ(WorkerResultText(ExceptionEx("succeed"), texts), std::nullopt);
  EXPECT_EQ(WorkerResultText(ExceptionEx("user cancel the operation"), texts), std::string());
  EXPECT_EQ(WorkerResultText(ExceptionEx("smart card not support sha2 algorithm"), texts),
            texts.Get("UiSmartCardNotSupportSha2Alg"));
  EXPECT_EQ(WorkerResultText(ExceptionEx("undefined"), texts), texts.Get("UiStateUnknownErr"));
}

}  // namespace
}  // namespace corvane
