#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "base/program_dir.h"
#include "base/worker_registry.h"
#include "fixtures/temp_dir.h"
#include "net/server_hosts.h"
#include "net/stat_comm.h"
#include "net/usage_reporters.h"
#include "servers/network_services.h"
#include "servers/silent_listener.h"

namespace corvane {
namespace {

class UsageStats : public ::testing::Test {
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
    SetProgramDirectory(home_.path());
    SetCaBundlePath(certificates_->caCert);
    SetLogHost(server_.hostPort());
  }
  void TearDown() override {
    ClearServerOverrides();
    SetProgramDirectory("");
  }
  std::function<ProductIdentity()> Identity(const std::string& version) {
    return [version] { return ProductIdentity{"corvanecode", version}; };
  }
  // Waits until the server has `count` bodies or a few seconds have passed.
  void AwaitBodies(std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (server_.bodies().size() < count && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }

  static test::TempDir* dir_;
  static test::LoopbackCertificates* certificates_;
  test::TempDir home_;
  test::LogServer server_{*certificates_};
};

test::TempDir* UsageStats::dir_ = nullptr;
test::LoopbackCertificates* UsageStats::certificates_ = nullptr;

TEST_F(UsageStats, VersionReportGoesOncePerVersionAndOnlySuccessIsRemembered) {
  const std::string userFile = home_ / "Config/User.xml";
  // A plain file where the directory belongs is replaced by the directory.
  test::WriteFileBytes(home_ / "Config", "not a directory");

  server_.SetAnswerRightType(false);
  EXPECT_FALSE(StatComm(LogServerUrl(), Identity("2.0.0.2")).SendUserStat());
  const std::string empty =
      "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n<config>\n\t<product name=\"\" "
      "version=\"\" />\n</config>\n";
  EXPECT_EQ(test::ReadFileBytes(userFile), empty);

  server_.SetAnswerRightType(true);
  EXPECT_TRUE(StatComm(LogServerUrl(), Identity("2.0.0.2")).SendUserStat());
  EXPECT_EQ(test::ReadFileBytes(userFile),
            "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n<config>\n\t<product "
            "name=\"corvanecode\" version=\"2.0.0.2\" />\n</config>\n");
  ASSERT_EQ(server_.bodies().size(), 2u);
  EXPECT_EQ(server_.bodies()[1],
            "{\n   \"platform\" : \"windows\",\n   \"product\" : \"corvanecode\",\n"
            "   \"type\" : \"userStatReq\",\n   \"version\" : \"2.0.0.2\"\n}\n");

  // The second start of the same version sends nothing; a new version reports once more.
  EXPECT_TRUE(StatComm(LogServerUrl(), Identity("2.0.0.2")).SendUserStat());
  EXPECT_EQ(server_.bodies().size(), 2u);
  EXPECT_TRUE(StatComm(LogServerUrl(), Identity("2.0.0.3")).SendUserStat());
  EXPECT_TRUE(StatComm(LogServerUrl(), Identity("2.0.0.3")).SendUserStat());
  EXPECT_EQ(server_.bodies().size(), 3u);
  EXPECT_NE(test::ReadFileBytes(userFile).find("version=\"2.0.0.3\""), std::string::npos);

  // A user file without its product element reports nothing.
  test::WriteFileBytes(userFile, "<config/>");
  EXPECT_FALSE(StatComm(LogServerUrl(), Identity("2.0.0.4")).SendUserStat());
  EXPECT_EQ(server_.bodies().size(), 3u);
}

TEST_F(UsageStats, AnswerTypeDecides) {
  struct Case {
    std::string answer;
    const char* message;  // nullptr: passes
  } cases[] = {
      {R"({"type":"userActionResp"})", nullptr},
      {R"({"type":"userActionResp","msg":"anything"})", nullptr},
      {R"({"type":"userStatResp","msg":"no"})", "type: userStatResp, message: no"},
      {R"({"msg":"no type"})", "type: , message: no type"},
      {R"({"type":{"x":1}})", "type: , message: "},
      {"{oops", "StatComm::CheckResponse, the answer is not JSON"},
      {"{\"type\":" + std::string(5000, '['), "StatComm::CheckResponse, the answer is not JSON"},
      {"", "StatComm::CheckResponse, the answer is not JSON"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    try {
      StatComm::CheckResponse("userActionResp", c.answer);
      EXPECT_EQ(c.message, nullptr);
    } catch (const std::exception& e) {
      ASSERT_NE(c.message, nullptr) << e.what();
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

TEST_F(UsageStats, CountsAreReportedAndTakenOffOnlyOnTheRightAnswer) {
  UsageCounters counters;
  counters.Add("signFile", 3);
  counters.Add("buyLink");
  std::atomic<bool> signing{true};
  WorkerRegistry workers;

  server_.SetAnswerRightType(false);
  ASSERT_TRUE(workers.Launch(WorkerKind::ActionStat, [&](std::stop_token stop) {
    ReporterControl control{stop, std::chrono::milliseconds(5), Identity("2.0.0.2")};
    ActionStatThread(counters, LogServerUrl(), control, [&] { return signing.load(); });
  }));
  AwaitBodies(2);
  // A wrong answer keeps the count; "signFile" waits for the signing run to end.
  EXPECT_EQ(counters.Get("buyLink"), 1);
  EXPECT_EQ(counters.Get("signFile"), 3);
  EXPECT_TRUE(workers.IsBusy(WorkerKind::ActionStat));
  EXPECT_TRUE(workers.IsAnyWorkerRunning());
  for (const std::string& body : server_.bodies())
    EXPECT_EQ(body.find("signFile"), std::string::npos);

  server_.SetAnswerRightType(true);
  signing = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while ((counters.Get("buyLink") != 0 || counters.Get("signFile") != 0) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  workers.RequestStop();
  workers.JoinAll();
  EXPECT_FALSE(workers.IsBusy(WorkerKind::ActionStat));
  EXPECT_EQ(counters.Get("buyLink"), 0);
  EXPECT_EQ(counters.Get("signFile"), 0);
  const std::vector<std::string> bodies = server_.bodies();
  EXPECT_EQ(std::count(bodies.begin(), bodies.end(),
                       "{\n   \"action\" : \"signFile\",\n   \"actionCnt\" : \"3\",\n"
                       "   \"product\" : \"corvanecode\",\n   \"type\" : \"userActionReq\"\n}\n"),
            1);

  // Counts added while a report was on its way survive the reset.
  counters.Add("otherLink", 5);
  counters.Reported("otherLink", 3);
  EXPECT_EQ(counters.Get("otherLink"), 2);
}

TEST_F(UsageStats, ForumClicksBetweenTwoLooksGoAsOneReport) {
  {
    ForumClickReporter reporter(LogServerUrl(), std::chrono::milliseconds(300), Identity("1"));
    reporter.Click();
    reporter.Click();
    reporter.Click();
    AwaitBodies(1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (reporter.pending() != 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(reporter.pending(), 0);
  }
  ASSERT_EQ(server_.bodies().size(), 1u);
  EXPECT_NE(server_.bodies()[0].find("\"action\" : \"otherLink\",\n   \"actionCnt\" : \"3\""),
            std::string::npos);
}

TEST_F(UsageStats, ClosingTheForumReporterAbandonsAReportOnItsWay) {
  test::SilentListener silent;
  SetLogHost(silent.hostPort());
  auto reporter = std::make_unique<ForumClickReporter>(
      LogServerUrl(), std::chrono::milliseconds(50), Identity("1"));
  reporter->Click();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the report waits on the server
  const auto start = std::chrono::steady_clock::now();
  reporter.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
}  // namespace corvane
