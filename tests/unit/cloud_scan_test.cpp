#include "net/cloud_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "base/program_dir.h"
#include "base/status.h"
#include "base/window_keys.h"
#include "fixtures/scripted_interaction.h"
#include "fixtures/signing_environment.h"
#include "fixtures/temp_dir.h"
#include "net/md5_digest.h"
#include "net/server_hosts.h"
#include "servers/network_services.h"
#include "tasks/signing_session.h"

namespace corvane {
namespace {

using test::ReputationServer;
using Answer = ReputationServer::Answer;

constexpr const char* kEmptyMd5 = "d41d8cd98f00b204e9800998ecf8427e";

// The outcome of one call: its result, or the text of what it threw and of which kind.
struct Outcome {
  std::optional<bool> clean;
  std::string error;
};

Outcome Scan(const std::string& path, long limit = kScanTimeLimitSeconds) {
  Outcome outcome;
  try {
    outcome.clean = IsFileClean(path, limit);
  } catch (const std::out_of_range& e) {
    outcome.error = std::string("out of range: ") + e.what();
  } catch (const ExceptionEx& e) {
    outcome.error = e.what();
  }
  return outcome;
}

class ScopedScanHost {
 public:
  explicit ScopedScanHost(const std::string& hostPort) { SetScanHost(hostPort); }
  ~ScopedScanHost() { ClearServerOverrides(); }
};

TEST(Md5, DigestsBytesAndFilesInLowerCaseHex) {
  test::TempDir dir;
  const std::string empty = dir / "empty", large = dir / "large";
  test::WriteFileBytes(empty, "");
  test::WriteFileBytes(large, std::string(3000, 'a'));  // spans several 1024-byte reads

  EXPECT_EQ(Md5Hex(""), kEmptyMd5);
  EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(FileMd5Hex(empty), kEmptyMd5);
  EXPECT_EQ(FileMd5Hex(large), "6ca003d00c9bb4569a4a27d751db7a89");
  EXPECT_EQ(FileMd5Hex(dir / "absent"), "");
  EXPECT_EQ(FileMd5Hex(dir.path()), "");  // a directory cannot be read
}

TEST(ScanQuery, BodyBytesAndSignatureForAFixedClockAndRandom) {
  // 1700000000 * 1000 + 12345 taken modulo 2^32 is 3487930425.
  const std::string expectedText =
      "appid=3f0c9a1be27d4c86\r\n"
      "nonce=b4d6926431b5dcea\r\n"
      "q=d41d8cd98f00b204e9800998ecf8427e\t\t\r\n"
      "timestamp=1700000000000\r\n"
      "v=1.0\r\n"
      "sign=289a6dde959ab466";
  const std::string expected = std::string("\x06\x51\x12\x34\x00\x00", 6) + expectedText;
  EXPECT_EQ(BuildScanQuery(std::string(kEmptyMd5) + "\t\t", 1700000000u, 12345, 0x1234), expected);

  // The same bytes reach the service, which accepts the signature.
  ReputationServer server;
  ScopedScanHost host(server.hostPort());
  int calls = 0;
  ScanEntropy fixed{[] { return 1700000000u; }, [&] { return ++calls == 1 ? 12345 : 0x1234; }};
  EXPECT_EQ(QueryFileLevel(kEmptyMd5, kScanTimeLimitSeconds, fixed), 10u);
  ASSERT_EQ(server.bodies().size(), 1u);
  EXPECT_EQ(server.bodies()[0], expected);
  EXPECT_EQ(server.badQueries(), 0);

  // With the system clock and random source the service accepts the query as well.
  EXPECT_TRUE(IsCloudReachable(kScanTimeLimitSeconds));
  EXPECT_EQ(server.badQueries(), 0);
}

TEST(ScanAnswer, LevelsAndFailuresOfTheAnswerText) {
  struct Case {
    std::string answer;
    std::optional<unsigned> level;  // nullopt: out of range
  } cases[] = {
      {R"({"status":"0","md5s":"d\t70\t"})", 70},
      {R"({"status":"0","md5s":"d\t69\t"})", 69},
      {R"({"status":0,"md5s":"d\t70\t"})", 70},  // the number 0 reads as "0"
      {R"({"status":"00","md5s":"d\t70\t"})", 0},
      {R"({"md5s":"d\t70\t"})", 0},
      {R"({"status":"1","md5s":"d\t70\t"})", 0},
      {R"({"status":"0","md5s":"d"})", std::nullopt},  // one field
      {R"({"status":"0"})", std::nullopt},             // no md5s: one empty field
      {R"({"status":"0","md5s":"d\t"})", 0},           // empty second field
      {R"({"status":"0","md5s":"d\tabc"})", 0},
      {R"({"status":"0","md5s":"d\t85.9"})", 85},
      {R"({"status":"0","md5s":"d\t-5\t"})", 0},
      {R"({"status":"0","md5s":"d\t1e400\t"})", 0},
      {"\xEF\xBB\xBF \r\n{\"status\":\"0\",\"md5s\":\"d\\t75\"}\r\ntrailer}x", 75},
      {"\xEF\xBB\xBF \r\n{\"status\":\"0\",\"md5s\":\"d\\t75\"}\r\ntrailer", 75},
      {R"({"status":{"a":1},"md5s":"d\t70"})", 0},
      {"{not json", 0},
      {"{\"status\":" + std::string(5000, '[') + "\"0\"}", 0},  // nesting the reader refuses
      {"no brace", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    if (c.level) {
      EXPECT_EQ(ParseScanAnswer(c.answer), *c.level);
    } else {
      EXPECT_THROW(ParseScanAnswer(c.answer), std::out_of_range);
    }
  }
}

TEST(CloudScan, VerdictPerServiceAnswer) {
  ReputationServer server;
  ScopedScanHost host(server.hostPort());
  test::TempDir dir;
  struct Case {
    Answer answer;
    std::optional<bool> clean;
    const char* error;
  } cases[] = {
      {Answer::Clean, true, ""},
      {Answer::Level70, false, ""},
      {Answer::Level69, true, ""},
      {Answer::Status00, std::nullopt, "calc md5 failed"},
      {Answer::MalformedMd5s, std::nullopt,
       "out of range: scan answer \"md5s\" has no level field"},
      {Answer::NoBrace, std::nullopt, "out of range: scan answer without \"{\""},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(index);
    const std::string path = dir / ("file" + std::to_string(index++));
    test::WriteFileBytes(path, "content " + std::to_string(index));
    server.SetAnswer(FileMd5Hex(path), c.answer);
    const Outcome outcome = Scan(path);
    EXPECT_EQ(outcome.clean, c.clean);
    EXPECT_EQ(outcome.error, c.error);
  }

  // An empty file is digested and asked about like any other.
  const std::string empty = dir / "empty";
  test::WriteFileBytes(empty, "");
  server.SetAnswer(kEmptyMd5, Answer::Level70);
  EXPECT_EQ(Scan(empty).clean, false);
  EXPECT_EQ(Scan(dir / "absent").error, "file not exist");
  EXPECT_EQ(server.badQueries(), 0);
}

TEST(CloudScan, SilentOrAbsentServiceGivesNoLevelWithinTheLimit) {
  ReputationServer server;
  test::TempDir dir;
  const std::string path = dir / "file";
  test::WriteFileBytes(path, "silent");
  server.SetAnswer(FileMd5Hex(path), Answer::Silence);
  {
    ScopedScanHost host(server.hostPort());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Scan(path).error, "calc md5 failed");
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(2900));
    EXPECT_LT(elapsed, std::chrono::seconds(6));
  }
  // Nothing listens on the port of a bound socket that never listens.
  test::ClosedLoopbackPort closed;
  ScopedScanHost host(closed.hostPort());
  EXPECT_FALSE(IsCloudReachable(kScanTimeLimitSeconds));
  EXPECT_EQ(Scan(path).error, "calc md5 failed");
}

class CloudScanSignRun : public ::testing::Test {
 protected:
  void SetUp() override { SetProgramDirectory(env_.dir().path()); }
  void TearDown() override {
    SetProgramDirectory("");
    ClearServerOverrides();
  }
  // A run with the configured services: the reputation server and the timestamp server.
  std::vector<std::string> RunSign(const std::vector<std::string>& paths,
                                   test::ScriptedInteraction& run) {
    WorkerRegistry workers;
    UsageCounters counters;
    SigningSession session(workers, counters, texts_);
    session.ChoosePfx(env_.rootA().pfxPath);
    SignRunSettings settings;
    settings.password = env_.rootA().password;
    settings.adviseDoubleCertificate = false;
    session.RunSign(paths, settings, run);
    std::vector<std::string> states;
    for (const std::string& event : run.events())
      if (event.rfind("row ", 0) == 0) states.push_back(event.substr(event.find(": ") + 2));
    return states;
  }

  test::SigningEnvironment env_;
  SkinTexts texts_ = GetSkinLan(kGuiWndOwner, kGuiWndKeys, UiLanguage::English);
};

TEST_F(CloudScanSignRun, MaliciousFileIsLeftUntouchedAndTheNextOneIsSigned) {
  const std::string virus = env_.CopyImage("console-x64.exe", "virus.exe");
  const std::string clean = env_.CopyImage("library-x64.dll");
  const std::string before = test::ReadFileBytes(virus);
  env_.reputation().SetAnswer(FileMd5Hex(virus), Answer::Level70);
  test::ScriptedInteraction run;
  std::vector<std::string> states = RunSign({virus, clean}, run);

  EXPECT_EQ(run.state(0), "Error:Viruses or malicious file");
  EXPECT_EQ(run.state(1), "Complete");
  EXPECT_EQ(test::ReadFileBytes(virus), before);
  EXPECT_EQ(env_.OsslVerify(clean), 0);
  EXPECT_EQ(std::count(states.begin(), states.end(), "Virus Scanning..."), 2);
  // The reachability probe, then one query per file.
  EXPECT_EQ(env_.reputation().bodies().size(), 3u);
}

TEST_F(CloudScanSignRun, UnreachableServiceSkipsTheScanForTheWholeRun) {
  test::ClosedLoopbackPort closed;
  SetScanHost(closed.hostPort());
  const std::string file = env_.CopyImage("console-x64.exe");
  test::ScriptedInteraction run;
  std::vector<std::string> states = RunSign({file}, run);

  EXPECT_EQ(run.state(0), "Complete");
  EXPECT_EQ(std::count(states.begin(), states.end(), "Virus Scanning..."), 0);
}

}  // namespace
}  // namespace corvane
