#include "tasks/sign_task_loop.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/program_dir.h"
#include "app/status.h"
#include "app/window_keys.h"
#include "fixtures/signing_environment.h"
#include "sign/authenticode_verifier.h"
#include "tasks/task_texts.h"

namespace corvane {
namespace {

class SignTaskLoop : public ::testing::Test {
 protected:
  void SetUp() override { SetProgramDirectory(env_.dir().path()); }
  void TearDown() override { SetProgramDirectory(""); }

  std::vector<SignTask> Rows(const std::vector<std::string>& paths) {
    std::vector<SignTask> rows;
    for (const std::string& p : paths) rows.push_back({p, "stale"});
    return rows;
  }
  SignRunSettings Settings(const test::TestSigner& signer) {
    SignRunSettings settings;
    settings.certificate.pfxChosen = true;
    settings.certificate.pfxPath = signer.pfxPath;
    settings.certificate.password = signer.password;
    return settings;
  }
  std::string Log() {
    return test::ReadFileBytes(env_.dir() / ("RunLog/" + ProgramFileName() + ".log"));
  }

  test::SigningEnvironment env_;
  CertManager manager_;
  SkinTexts texts_ = GetSkinLan(kGuiWndOwner, kGuiWndKeys, UiLanguage::English);
  std::vector<std::string> messages_, tips_, rowStates_;
};

TEST_F(SignTaskLoop, ScansSignsAndReportsEveryRowInOrder) {
  std::string clean = env_.CopyImage("console-x64.exe");
  std::string virus = env_.CopyImage("library-x64.dll", "virus.dll");
  std::string vanished = env_.CopyImage("library-x86.dll", "vanished.dll");
  std::string pdf = env_.dir() / "doc.pdf";
  test::WriteFileBytes(pdf, "%PDF-1.4");
  std::string virusBefore = test::ReadFileBytes(virus);
  SignRunHooks hooks;
  hooks.rowChanged = [&](std::size_t) {};
  hooks.isCloudReachable = [] { return true; };
  hooks.isFileClean = [&](const std::string& path) {
    if (path == vanished) RaiseStatus(StatusCode::FileNotExist);
    return path != virus;
  };
  hooks.showTip = [&](const std::string& text) { tips_.push_back(text); };
  std::vector<SignTask> rows = Rows({clean, virus, vanished, pdf});
  std::filesystem::remove(vanished);
  SignTaskRunner runner(manager_, texts_, hooks);
  runner.RunSign(rows, Settings(env_.rootA()));

  EXPECT_EQ(rows[0].state, "Complete");
  EXPECT_EQ(rows[1].state, "Error:Viruses or malicious file");
  EXPECT_EQ(rows[2].state, "Error:Invalid path");
  EXPECT_EQ(rows[3].state,
            "Error:Unknown error, please send feedback, we will fix it as soon as possible!");
  EXPECT_EQ(test::ReadFileBytes(virus), virusBefore);
  EXPECT_EQ(runner.signFileCount(), 1u);
  EXPECT_EQ(tips_, std::vector<std::string>{texts_.Get("UiDoubleCertTip")});
  std::string log = Log();
  EXPECT_NE(log.find("CGuiWnd::ExeVirusScan, file not exist"), std::string::npos) << log;
  EXPECT_NE(log.find("CGuiWnd::ExeSignTaskLoop, " + vanished + ", invalid path"),
            std::string::npos);

  // The advice comes once per start; an unreachable cloud means no row is ever scanned.
  hooks.isCloudReachable = [] { return false; };
  hooks.rowChanged = [&](std::size_t row) { rowStates_.push_back(rows[row].state); };
  SignTaskRunner second(manager_, texts_, hooks);
  std::vector<SignTask> again = Rows({clean});
  rows = again;
  second.RunSign(rows, Settings(env_.rootA()));
  for (const std::string& state : rowStates_) EXPECT_NE(state, "Virus Scanning...");
  EXPECT_EQ(rows[0].state, "Complete");
}

TEST_F(SignTaskLoop, PreRunChecksStopBeforeAnyFileWithTheirMessage) {
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
    SignRunSettings settings;
    std::vector<std::string> paths;
    const char* message;
  };
  SignRunSettings none;
  SignRunSettings wrongPassword = Settings(env_.rootA());
  wrongPassword.certificate.password = "nope";
  SignRunSettings expiredSettings = Settings(env_.rootA());
  expiredSettings.certificate.pfxPath = expiredPfx;
  expiredSettings.certificate.password = "pw";
  SignRunSettings store;
  store.certificate.storeChosen = true;
  const Case cases[] = {
      {"empty list", Settings(env_.rootA()), {}, "Please add files"},
      {"no certificate", none, {exe}, "Please select a certificate"},
      {"wrong password", wrongPassword, {exe}, "Password error or certificate error"},
      {"expired", expiredSettings, {exe}, "The certificate has expired"},
      {"store without identity",
       store,
       {exe},
       "Unknown error, please send feedback, we will fix it as soon as possible!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    messages_.clear();
    SignRunHooks hooks;
    hooks.message = [&](const std::string& text) { messages_.push_back(text); };
    SignTaskRunner runner(manager_, texts_, hooks);
    std::vector<SignTask> rows = Rows(c.paths);
    runner.RunSign(rows, c.settings);
    EXPECT_EQ(messages_, std::vector<std::string>{c.message});
    for (const SignTask& row : rows) EXPECT_EQ(row.state, "Waiting...");
  }
}

TEST_F(SignTaskLoop, KernelModeOutsideTheHierarchyAsksOnceAndACancelLeavesEveryRowWaiting) {
  std::string exe = env_.CopyImage("console-x64.exe");
  std::string sys = env_.CopyImage("driver-x64.sys");
  int asked = 0;
  SignRunHooks hooks;
  hooks.chooseCrossCert = [&](const ChainList&) {
    ++asked;
    return std::string();
  };
  SignTaskRunner runner(manager_, texts_, hooks);
  std::vector<SignTask> rows = Rows({exe, sys});
  runner.RunSign(rows, Settings(env_.foreign()));
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(rows[0].state, "Waiting...");
  EXPECT_EQ(rows[1].state, "Waiting...");

  // General mode without a driver does not ask.
  rows = Rows({exe});
  runner.RunSign(rows, Settings(env_.foreign()));
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(rows[0].state, "Complete");
}

TEST_F(SignTaskLoop, AStopRequestLeavesTheRemainingRowsWaiting) {
  std::string a = env_.CopyImage("console-x64.exe"), b = env_.CopyImage("console-x86.exe");
  SignTaskRunner* self = nullptr;
  SignRunHooks hooks;
  std::vector<SignTask> rows = Rows({a, b});
  hooks.rowChanged = [&](std::size_t row) {
    if (row == 0 && rows[0].state == "Complete") self->RequestStop();
  };
  SignTaskRunner runner(manager_, texts_, hooks);
  self = &runner;
  runner.RunSign(rows, Settings(env_.rootA()));
  EXPECT_EQ(rows[0].state, "Complete");
  EXPECT_EQ(rows[1].state, "Waiting...");
}

TEST_F(SignTaskLoop, VerifyRunReportsPeFilesAndLeavesOthersWaiting) {
  std::string signedExe = env_.CopyImage("console-x64.exe");
  std::vector<SignTask> rows = Rows({signedExe});
  SignTaskRunner signer(manager_, texts_, {});
  signer.RunSign(rows, Settings(env_.rootA()));
  ASSERT_EQ(rows[0].state, "Complete");

  SetTrustLocations({env_.trustBundle()});
  std::string unsignedExe = env_.CopyImage("console-x86.exe");
  std::string sys = env_.CopyImage("driver-x64.sys");
  std::string txt = env_.dir() / "a.txt";
  test::WriteFileBytes(txt, "t");
  rows = Rows({signedExe, unsignedExe, sys, txt, env_.dir() / "gone.exe"});
  SignTaskRunner verifier(manager_, texts_, {});
  verifier.RunVerify(rows, {});
  SetTrustLocations({});
  EXPECT_EQ(rows[0].state, "Complete");
  EXPECT_EQ(rows[1].state, "Verify signature failed");
  EXPECT_EQ(rows[2].state, "Waiting...");
  EXPECT_EQ(rows[3].state, "Prompt: File type is not supported");
  EXPECT_EQ(rows[4].state, "Verify signature failed");
}

TEST(TaskTexts, StatusTextsMapToRowTextsExactly) {
  SkinTexts texts = GetSkinLan(kGuiWndOwner, kGuiWndKeys, UiLanguage::English);
  struct Case {
    const char* status;
    const char* row;
  } cases[] = {
      {"succeed", "Complete"},
      {"sign succeed, timestamp failed",
       "Warning:Signature successful, but not add a timestamp, please check the network"},
      {"file is in use", "Error:Files are in use"},
      {"cert pswd is wrong", "Error:Password error"},
      {"Succeed", "Error:Unknown error, please send feedback, we will fix it as soon as possible!"},
      {"CabFileSign::EmbedSignedData, undefined",
       "Error:Unknown error, please send feedback, we will fix it as soon as possible!"},
      {"algorithm is not supported",
       "Error:Unknown error, please send feedback, we will fix it as soon as possible!"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TaskErrorText(ExceptionEx(c.status), texts), c.row) << c.status;
  EXPECT_EQ(WorkerResultText(ExceptionEx("succeed"), texts), std::nullopt);
  EXPECT_EQ(WorkerResultText(ExceptionEx("user cancel the operation"), texts), std::string());
  EXPECT_EQ(WorkerResultText(ExceptionEx("smart card not support sha2 algorithm"), texts),
            texts.Get("UiSmartCardNotSupportSha2Alg"));
  EXPECT_EQ(WorkerResultText(ExceptionEx("undefined"), texts), texts.Get("UiStateUnknownErr"));
}

}  // namespace
}  // namespace corvane
