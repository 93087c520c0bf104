#include "net/version_update.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/own_version.h"
#include "base/program_dir.h"
#include "base/status.h"
#include "base/worker_registry.h"
#include "fixtures/temp_dir.h"
#include "net/server_hosts.h"
#include "net/update_comm.h"
#include "servers/network_services.h"

namespace corvane {
namespace {

using test::UpdateDocument;

TEST(CompareVersions, NumbersInTurnAndLengthBreaksTies) {
  struct Case {
    const char* a;
    const char* b;
    int sign;
  } cases[] = {
      {"2.0.0.10", "2.0.0.9", 1}, {"2.0.0.9", "2.0.0.10", -1}, {"2.0.0.3", "2.0.0.3", 0},
      {"2.0.1", "2.0.1.0", -1},   {"2.0.1.0", "2.0.1", 1},     {"3", "2.9.9.9", 1},
      {"", "2.0.0.1", -1},        {"2.0.0.1", "", 1},          {"", "", 0},
      {"2.x.0.1", "2.0.0.1", 0},  {"2.1a.0", "2.1.0", 0},      {"10.0", "9.99", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    const int result = CompareVersions(c.a, c.b);
    EXPECT_EQ((result > 0) - (result < 0), c.sign);
  }
  EXPECT_EQ(CompareVersions("2.0.0.10", "2.0.0.7"), 3);
  EXPECT_EQ(FourPartVersion("0.1.0"), "0.1.0.0");
  EXPECT_EQ(FourPartVersion("2.0.0.3"), "2.0.0.3");
  EXPECT_EQ(FourPartVersion("x"), "");
  EXPECT_EQ(OwnVersion(), FourPartVersion(CORVANE_VERSION));
}

class VersionCheck : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir;
    certificates_ = new test::LoopbackCertificates(test::WriteLoopbackCertificates(dir_->path()));
  }
  static void TearDownTestSuite() {
    delete certificates_;
    delete dir_;
  }
  void SetUp() override {
    SetProgramDirectory(logDir_.path());
    SetCaBundlePath(certificates_->caCert);
    SetUpdateHost(server_.hostPort());
  }
  void TearDown() override {
    ClearServerOverrides();
    SetProgramDirectory("");
  }
  std::string Log() {
    return test::ReadFileBytes(logDir_ / ("RunLog/" + ProgramFileName() + ".log"));
  }

  static test::TempDir* dir_;
  static test::LoopbackCertificates* certificates_;
  test::TempDir logDir_;
  test::DownloadServer server_{*certificates_};
};

test::TempDir* VersionCheck::dir_ = nullptr;
test::LoopbackCertificates* VersionCheck::certificates_ = nullptr;

TEST_F(VersionCheck, DocumentVariants) {
  const std::string url = DownloadUrl(kUpdateDocumentName);
  struct Case {
    UpdateDocument document;
    const char* notesElement;
    std::optional<VersionInfo> info;  // nullopt: "UpdateComm::GetVerInfo"
  } cases[] = {
      {UpdateDocument::Normal, "desp-en", VersionInfo{"2.0.0.10", "Fixed several problems."}},
      {UpdateDocument::Normal, "desp-cn", VersionInfo{"2.0.0.10", "修复了若干问题"}},
      {UpdateDocument::SecondEntry, "desp-en", VersionInfo{"2.0.0.10", "Fixed several problems."}},
      {UpdateDocument::MissingNotes, "desp-en", std::nullopt},
      {UpdateDocument::NoMatchingEntry, "desp-en", std::nullopt},
      {UpdateDocument::NotXml, "desp-en", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.document));
    server_.SetDocument(c.document, "2.0.0.10");
    if (c.info) {
      const VersionInfo info = UpdateComm::GetVerInfo(url, kUpdateExecutableName, c.notesElement);
      EXPECT_EQ(info.version, c.info->version);
      EXPECT_EQ(info.notes, c.info->notes);
    } else {
      try {
        UpdateComm::GetVerInfo(url, kUpdateExecutableName, c.notesElement);
        ADD_FAILURE() << "no failure";
      } catch (const ExceptionEx& e) {
        EXPECT_STREQ(e.what(), "UpdateComm::GetVerInfo");
      }
    }
  }
  // The entry name is matched exactly, case included.
  server_.SetDocument(UpdateDocument::Normal, "2.0.0.10");
  EXPECT_THROW(UpdateComm::GetVerInfo(url, "CorvaneCode.exe", "desp-en"), ExceptionEx);
  // A server whose certificate the bundle does not vouch for is not asked.
  SetCaBundlePath("");
  EXPECT_THROW(UpdateComm::GetVerInfo(url, kUpdateExecutableName, "desp-en"), ExceptionEx);
}

TEST_F(VersionCheck, MainButtonAndVersionWindowAgree) {
  server_.SetDocument(UpdateDocument::Normal, "2.0.0.10");
  UpdateStatus status;
  auto button = VersionCheckThread(status, "desp-en", "2.0.0.2");
  ASSERT_TRUE(button);
  EXPECT_EQ(button->textKey, "UiBtnCheckVerNew");
  EXPECT_EQ(button->colour, "#00FF0000");
  EXPECT_TRUE(status.hasNew);

  // The window given the main window's data shows it without asking again.
  const int requests = server_.requestCount();
  UpdateCheckView view = UpdateCheckThread(status, "desp-en", "2.0.0.2");
  EXPECT_EQ(view.stateKey, "StateHaveNew");
  EXPECT_EQ(view.notes, "Fixed several problems.");
  EXPECT_TRUE(view.offerUpdate);
  EXPECT_EQ(server_.requestCount(), requests);
  // On its own it comes to the same view.
  UpdateStatus fresh;
  view = UpdateCheckThread(fresh, "desp-en", "2.0.0.2");
  EXPECT_EQ(view.stateKey, "StateHaveNew");
  EXPECT_EQ(fresh.newVersion, "2.0.0.10");

  // Equal versions.
  UpdateStatus same;
  button = VersionCheckThread(same, "desp-en", "2.0.0.10");
  ASSERT_TRUE(button);
  EXPECT_EQ(button->textKey, "UiBtnCheckVer");
  EXPECT_EQ(button->colour, "#0030A139");
  view = UpdateCheckThread(same, "desp-en", "2.0.0.10");
  EXPECT_EQ(view.stateKey, "StateIsNew");
  EXPECT_EQ(view.notesKey, "DespNone");
  EXPECT_FALSE(view.offerUpdate);
  WorkerRegistry workers;
  EXPECT_EQ(ExeUpdateThread(same, {}, workers, "/nonexistent/corvanecode", Program::Window),
            UpdateOutcome::Closed);
  EXPECT_FALSE(workers.stopRequested()) << "nothing to update: no worker is stopped";

  // No document: the button stays, the failure is logged; the window is not connected.
  server_.SetDocument(UpdateDocument::MissingNotes, "2.0.0.10");
  UpdateStatus missing;
  EXPECT_FALSE(VersionCheckThread(missing, "desp-en", "2.0.0.2"));
  EXPECT_FALSE(missing.hasNew);
  EXPECT_NE(Log().find("[Error] CGuiWnd::VersionCheckThread, UpdateComm::GetVerInfo"),
            std::string::npos);
  view = UpdateCheckThread(missing, "desp-en", "2.0.0.2");
  EXPECT_EQ(view.stateKey, "StateNotConnect");
  EXPECT_FALSE(view.showNewVersion);
}

TEST_F(VersionCheck, FailedDownloadLeavesTheRunningProgramAloneAndShowsUpdateFail) {
  test::TempDir install;
  const std::string running = install / "corvanecode";
  test::WriteFileBytes(running, "running program");
  UpdateStatus status{true, "2.0.0.10", "2.0.0.2", "notes"};
  struct Case {
    const char* name;
    std::string executable;  // empty: the transfer is cut short
  } cases[] = {{"cut short", ""}, {"not a program", "<html>Not Found</html>"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server_.SetExecutable(c.executable);
    std::vector<std::string> states;
    std::vector<int> progress;
    UpdateProgress report{[&](const std::string& key, const char*) { states.push_back(key); },
                          [&](int percent) { progress.push_back(percent); }};
    // A signing run still going: the update waits for it to see the stop request and end.
    WorkerRegistry workers;
    std::atomic<bool> workerEnded{false};
    ASSERT_TRUE(workers.Launch(WorkerKind::SignVerify, [&](std::stop_token stop) {
      while (!stop.stop_requested()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      workerEnded = true;
    }));

    EXPECT_EQ(ExeUpdateThread(status, report, workers, running, Program::Window),
              UpdateOutcome::Failed);
    EXPECT_EQ(states, (std::vector<std::string>{"StateUpdateing", "StateUpdateFail"}));
    EXPECT_FALSE(workers.stopRequested()) << "the program goes on: its workers may run again";
    EXPECT_TRUE(workerEnded) << "the download waited for the busy worker";
    std::atomic<bool> stoppedAtStart{true};
    ASSERT_TRUE(workers.Launch(WorkerKind::SignVerify, [&](std::stop_token stop) {
      stoppedAtStart = stop.stop_requested();
    }));
    workers.JoinAll();
    EXPECT_FALSE(stoppedAtStart);
    EXPECT_EQ(progress.front(), 20);
    EXPECT_EQ(test::ReadFileBytes(running), "running program");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(install.path()),
                            std::filesystem::directory_iterator()),
              1);
  }
  EXPECT_NE(Log().find("[Error] VerWnd::ExeUpdateThread, "), std::string::npos);
}

TEST_F(VersionCheck, OneFailedDownloadOfTwoProgramsReplacesNeither) {
  test::TempDir install;
  const std::string window = install / "corvanecode";
  const std::string cli = install / "corvanecode-cli";
  test::WriteFileBytes(window, "running window");
  test::WriteFileBytes(cli, "command line");
  server_.SetExecutable("corvanecode.exe", "new window");
  server_.SetExecutable("corvanecode-cli.exe", "");  // cut short
  UpdateStatus status{true, "2.0.0.10", "2.0.0.2", "notes"};
  WorkerRegistry workers;
  EXPECT_EQ(ExeUpdateThread(status, {}, workers, window, Program::Window), UpdateOutcome::Failed);
  EXPECT_EQ(test::ReadFileBytes(window), "running window");
  EXPECT_EQ(test::ReadFileBytes(cli), "command line");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(install.path()),
                          std::filesystem::directory_iterator()),
            2);
}

TEST_F(VersionCheck, AnInstalledCopyIsNotUpdated) {
  test::TempDir root;
  std::filesystem::create_directories(root / "usr/bin");
  std::filesystem::create_directories(root / "usr/share/corvanecode");
  test::WriteFileBytes(root / "usr/share/corvanecode/installed", "installed copy\n");
  const std::string window = root / "usr/bin/corvanecode";
  test::WriteFileBytes(window, "packaged window");
  server_.SetExecutable("new window");
  UpdateStatus status{true, "2.0.0.10", "2.0.0.2", "notes"};
  std::vector<std::string> states;
  UpdateProgress report{[&](const std::string& key, const char*) { states.push_back(key); }, {}};
  WorkerRegistry workers;
  const int requests = server_.requestCount();
  EXPECT_EQ(ExeUpdateThread(status, report, workers, window, Program::Window),
            UpdateOutcome::ByPackageManager);
  EXPECT_TRUE(states.empty());
  EXPECT_FALSE(workers.stopRequested()) << "the workers go on: nothing is updated";
  EXPECT_EQ(server_.requestCount(), requests);
  EXPECT_EQ(test::ReadFileBytes(window), "packaged window");
  EXPECT_EQ(DownloadPage(), "https://" + server_.hostPort() + "/download/");
}

}  // namespace
}  // namespace corvane
