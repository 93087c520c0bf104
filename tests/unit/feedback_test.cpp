#include "net/feedback.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "base/program_dir.h"
#include "base/run_log.h"
#include "base/window_keys.h"
#include "fixtures/run_command.h"
#include "fixtures/temp_dir.h"
#include "net/error_lines.h"
#include "net/server_hosts.h"
#include "servers/loopback_http_server.h"
#include "servers/network_services.h"

namespace corvane {
namespace {

std::string ErrorLine(int n) {
  return "[2026-12-10 09:3" + std::to_string(n) + ":00] [Error] CGuiWnd::ExeSignTaskLoop, /w/" +
         std::to_string(n) + ".exe, sign file failed";
}

TEST(CollectErrorLines, LastFiveOldestFirstGlued) {
  std::string log;
  for (int n = 1; n <= 7; ++n) log += ErrorLine(n) + "\r\n";
  EXPECT_EQ(CollectErrorLinesFrom(log),
            ErrorLine(3) + ErrorLine(4) + ErrorLine(5) + ErrorLine(6) + ErrorLine(7));

  struct Case {
    const char* name;
    std::string content;
    std::string expected;
  } cases[] = {
      {"no error lines", "[2026-12-10 09:30:00] [Info] started\n", ""},
      {"empty", "", ""},
      {"one line without a line end", ErrorLine(1), ErrorLine(1)},
      // A message that merely quotes the tag far into a line is skipped.
      {"quoted tag", ErrorLine(1) + "\n" + std::string(40, 'x') + " said [Error] here\n",
       ErrorLine(1)},
      {"tag at the start of the content", "[Error] bare\n" + ErrorLine(2) + "\n", ErrorLine(2)},
      {"indented line", "  " + ErrorLine(3) + "\n", "  " + ErrorLine(3)},
      // A long line is cut at the end of the 200-byte window, which begins 30 bytes before
      // the tag: here at the line's start, 8 bytes after the previous line's end.
      {"long line", "prev\n" + ErrorLine(4).substr(0, 22) + "[Error] " + std::string(300, 'y'),
       (ErrorLine(4).substr(0, 22) + "[Error] " + std::string(300, 'y')).substr(0, 200 - 5)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CollectErrorLinesFrom(c.content), c.expected);
  }
  EXPECT_EQ(CollectErrorLines("/nonexistent/RunLog/x.log"), "");
}

TEST(FeedbackBody, StyledWithKeysInByteOrder) {
  FeedbackRequest request{"me@example.org", "It \"crashed\"\n", "[a] [Error] b", "bug",
                          "corvanecode",    "2.0.0.3"};
  EXPECT_EQ(BuildFeedbackBody(request),
            "{\n"
            "   \"contact\" : \"me@example.org\",\n"
            "   \"desc\" : \"It \\\"crashed\\\"\\n\",\n"
            "   \"loginfo\" : \"[a] [Error] b\",\n"
            "   \"msgType\" : \"bug\",\n"
            "   \"platform\" : \"windows\",\n"
            "   \"product\" : \"corvanecode\",\n"
            "   \"type\" : \"msgReq\",\n"
            "   \"version\" : \"2.0.0.3\"\n"
            "}\n");
  EXPECT_EQ(TrimFeedbackText(" \r\n\tx \t"), "x ");  // one kind after the other
  EXPECT_EQ(TrimFeedbackText("\t \t"), " ");
}

class Feedback : public ::testing::Test {
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
  ProductIdentity Identity() { return {"corvanecode", "2.0.0.3"}; }

  static test::TempDir* dir_;
  static test::LoopbackCertificates* certificates_;
  test::TempDir home_;
  test::LogServer server_{*certificates_};
  SkinTexts texts_ = GetSkinLan(kFeedbackWndOwner, kFeedbackWndKeys, UiLanguage::English);
};

test::TempDir* Feedback::dir_ = nullptr;
test::LoopbackCertificates* Feedback::certificates_ = nullptr;

TEST_F(Feedback, PlaceholdersAndBlanksAreRefusedAndTheContactPlaceholderIsDropped) {
  for (int n = 1; n <= 2; ++n) LogError("%s, %s", "CGuiWnd::ExeSignTaskLoop", "undefined");
  FeedbackSession session(texts_, RunLogPath(), [this] { return Identity(); });
  for (const std::string& description :
       {std::string(), std::string(" \r\n\t"), texts_.Get("PromptsErrDescDefault"),
        " " + texts_.Get("PromptsAdviceDescDefault") + "\n"}) {
    SCOPED_TRACE(description);
    const auto prepared = session.Submit("bug", description, "");
    EXPECT_FALSE(prepared.body);
    EXPECT_EQ(prepared.prompt.key, "PromptsEmptyDesp");
    EXPECT_EQ(prepared.prompt.colour, "#00FF0000");
  }
  const auto prepared =
      session.Submit("advice", "  More hash choices\n", texts_.Get("EmailHelpTip"));
  ASSERT_TRUE(prepared.body);
  EXPECT_TRUE(session.errorLinesReady());
  EXPECT_NE(prepared.body->find("\"contact\" : \"\",\n"), std::string::npos);
  EXPECT_NE(prepared.body->find("\"desc\" : \"More hash choices\",\n"), std::string::npos);
  EXPECT_NE(prepared.body->find("\"msgType\" : \"advice\",\n"), std::string::npos);
  EXPECT_NE(prepared.body->find("CGuiWnd::ExeSignTaskLoop, undefined["), std::string::npos);
  EXPECT_NE(session.Submit("", "x", "").body->find("\"msgType\" : \"null\""), std::string::npos);
  EXPECT_TRUE(server_.bodies().empty());
}

TEST_F(Feedback, ABusyLogReaderDelaysTheSubmissionOneSecondAtMost) {
  // Opening a pipe without a writer blocks the reader until the test opens the other end.
  const std::string pipe = home_ / "busy.log";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  FeedbackSession session(texts_, pipe, [this] { return Identity(); });
  const auto start = std::chrono::steady_clock::now();
  const auto prepared = session.Submit("bug", "It crashed", "");
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(session.errorLinesReady());
  ASSERT_TRUE(prepared.body);
  EXPECT_NE(prepared.body->find("\"loginfo\" : \"\",\n"), std::string::npos);
  EXPECT_GE(elapsed, std::chrono::milliseconds(900));
  EXPECT_LT(elapsed, std::chrono::seconds(3));
  ::close(::open(pipe.c_str(), O_WRONLY));  // lets the reader finish
}

TEST_F(Feedback, ExchangeOutcomes) {
  FeedbackSession session(texts_, home_ / "no.log", [this] { return Identity(); });
  const std::string body = *session.Submit("bug", "It crashed", "me@example.org").body;
  std::vector<std::string> shown;
  auto sending = [&](const FeedbackPrompt& prompt) { shown.push_back(prompt.key); };

  FeedbackPrompt outcome = session.SubmitThread(body, LogServerUrl(), sending);
  EXPECT_EQ(outcome.key, "PromptsSuccess");
  EXPECT_EQ(outcome.colour, "#00279E36");
  EXPECT_EQ(shown, std::vector<std::string>{"PromptsSubmitting"});
  ASSERT_EQ(server_.bodies().size(), 1u);
  EXPECT_EQ(server_.bodies()[0], body);
  EXPECT_NE(body.find("\"loginfo\" : \"\",\n"), std::string::npos);

  server_.SetAnswerRightType(false);
  outcome = session.SubmitThread(body, LogServerUrl());
  EXPECT_EQ(outcome.key, "PromptsFailed");
  EXPECT_EQ(outcome.colour, "#00FF0000");

  test::ClosedLoopbackPort closed;
  outcome = session.SubmitThread(body, "https://" + closed.hostPort() + "/ReceiveFeedbackServer");
  EXPECT_EQ(outcome.key, "PromptsCommunicateFailed");
  const std::string log = test::ReadFileBytes(RunLogPath());
  EXPECT_NE(log.find("[Error] FeedBackWnd::Submit : type: wrongResp, message: rejected\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("[Error] FeedBackWnd::Submit : communication failed\n"), std::string::npos);
}

TEST_F(Feedback, CommandSendsTheReport) {
  test::CommandResult r =
      test::RunCli({"feedback", "--type", "bug", "--text", "Signing hangs", "--contact", "me",
                    "--log-host", server_.hostPort(), "--ca-bundle", certificates_->caCert},
                   {{"CORVANECODE_PROGRAM_DIR", home_.path()}, {"LANG", "C"}});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, "Submitted successfully! Thank you for your support of our work.\n");
  ASSERT_EQ(server_.bodies().size(), 1u);
  EXPECT_NE(server_.bodies()[0].find("\"desc\" : \"Signing hangs\""), std::string::npos);

  r = test::RunCli({"feedback", "--type", "praise", "--text", "x"}, {{"LANG", "C"}});
  EXPECT_EQ(r.exitStatus, 2);
}

}  // namespace
}  // namespace corvane
