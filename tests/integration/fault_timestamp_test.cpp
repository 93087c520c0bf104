// Servers that fail: timestamp hosts that are down, hang, answer 500 or nonsense, and transfers
// that must end on their time limits or on the stop request.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stop_token>
#include <thread>

#include "fixtures/fault_workspace.h"
#include "fixtures/scoped_env.h"
#include "fixtures/temp_dir.h"
#include "net/communicator.h"
#include "servers/silent_listener.h"
#include "servers/timestamp_server.h"

namespace corvane {
namespace {

using test::CommandResult;
using test::FaultWorkspace;
using test::TimestampServer;
using Clock = std::chrono::steady_clock;

constexpr char kNoTimestamp[] =
    "Warning:Signature successful, but not add a timestamp, please check the network";

// Short limits so that a hanging host costs a second, not a minute.
const std::map<std::string, std::string> kFastLimits = {
    {"CORVANECODE_TRANSFER_TIME_LIMIT", "1"}, {"CORVANECODE_TIMESTAMP_RETRY_DELAY", "0.1"}};

enum class Via { RepeatedOption, CommaList, SpaceList, SavedSetting };

struct HostCase {
  const char* name;
  std::vector<std::string> hosts;  // "good", "down", "hang", "500", "garbage"
  Via via;
  const char* line;
  const char* answeredBy;  // the host the run log names, or nullptr
  int error500Requests;    // timestamp requests the failing servers get
  int garbageRequests;
};

const HostCase kHostCases[] = {
    {"one good host behaves as before", {"good"}, Via::RepeatedOption, "Complete", nullptr, 0, 0},
    {"down then good", {"down", "good"}, Via::RepeatedOption, "Complete", "good", 0, 0},
    {"hanging then good", {"hang", "good"}, Via::CommaList, "Complete", "good", 0, 0},
    {"the desktop program's saved list",
     {"down", "good"},
     Via::SavedSetting,
     "Complete",
     "good",
     0,
     0},
    {"500 is asked again, then good", {"500", "good"}, Via::SpaceList, "Complete", "good", 2, 0},
    {"malformed answer moves on at once",
     {"garbage", "good"},
     Via::RepeatedOption,
     "Complete",
     "good",
     0,
     1},
    {"a hanging host alone", {"hang"}, Via::CommaList, kNoTimestamp, nullptr, 0, 0},
    {"every host failing",
     {"down", "500", "garbage", "hang"},
     Via::RepeatedOption,
     kNoTimestamp,
     nullptr,
     2,
     1},
};

class TimestampHosts : public ::testing::TestWithParam<HostCase> {};

TEST_P(TimestampHosts, AreTriedInOrderWithinABoundedTime) {
  const HostCase& c = GetParam();
  FaultWorkspace w;
  TimestampServer error500;
  error500.SetMode(TimestampServer::Mode::Error500);
  TimestampServer garbage;
  garbage.SetMode(TimestampServer::Mode::Garbage);
  test::SilentListener silent;
  std::map<std::string, std::string> address = {{"good", w.env().server().hostPort()},
                                                {"down", "127.0.0.1:1"},
                                                {"hang", silent.hostPort()},
                                                {"500", error500.hostPort()},
                                                {"garbage", garbage.hostPort()}};
  std::vector<std::string> options;
  std::map<std::string, std::string> env = kFastLimits;
  std::string list;
  for (const std::string& host : c.hosts) {
    if (c.via == Via::RepeatedOption) {
      options.push_back("--timestamp-host");
      options.push_back(address[host]);
    }
    list += (list.empty() ? "" : c.via == Via::CommaList ? "," : " ") + address[host];
  }
  env["CORVANECODE_TIMESTAMP_HOST"] = c.via == Via::RepeatedOption ? "unused.invalid" : list;
  if (c.via == Via::SavedSetting) {
    std::string xml = "<config><timestamp>";
    for (const std::string& host : c.hosts) xml += "<host>" + address[host] + "</host>";
    std::filesystem::create_directories(w.env().dir() / "Config");
    test::WriteFileBytes(w.env().dir() / "Config/Settings.xml", xml + "</timestamp></config>");
    env["CORVANECODE_TIMESTAMP_HOST"] = "";
  }

  const std::string path = w.LargeImage(w / "app.exe", 0);
  const auto start = Clock::now();
  bool timedOut = false;
  CommandResult r = w.Sign({path}, options, env, std::chrono::seconds(60), &timedOut);
  const auto seconds = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_FALSE(timedOut);
  EXPECT_LT(seconds, 20.0);
  EXPECT_EQ(r.out, path + ": " + c.line + "\n") << r.err;
  EXPECT_EQ(w.env().OsslVerify(path), 0);
  EXPECT_EQ(error500.authenticodeRequests(), c.error500Requests);
  EXPECT_EQ(garbage.authenticodeRequests(), c.garbageRequests);
  const std::string log = w.RunLog();
  if (c.answeredBy)
    EXPECT_NE(log.find("timestamp host: " + address[c.answeredBy]), std::string::npos) << log;
  else
    EXPECT_EQ(log.find("timestamp host: "), std::string::npos) << log;
  EXPECT_EQ(w.Leftovers({"app.exe"}), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Faults, TimestampHosts, ::testing::ValuesIn(kHostCases),
                         [](const ::testing::TestParamInfo<HostCase>& param) {
                           std::string name;
                           for (const char* p = param.param.name; *p; ++p)
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           return name;
                         });

// Each kind of transfer against a server that never answers: it ends on its time limit.
TEST(TransferLimits, EveryTransferEndsOnItsTimeLimit) {
  test::SilentListener silent;
  test::ScopedEnv limit(kTransferTimeLimitVariable, "0.5");
  test::TempDir dir;
  const std::string url = "http://" + silent.hostPort() + "/";
  struct Operation {
    const char* name;
    std::function<bool()> run;  // true when the transfer reported success
  } operations[] = {
      {"probe", [&] { return CCommunicator::Probe(url); }},
      {"raw post",
       [&] {
         std::string response;
         return CCommunicator::PostRaw(url, "body", 60, response);
       }},
      {"json post",
       [&] {
         try {
           CCommunicator(url).Post("{}");
           return true;
         } catch (const std::exception&) {
           return false;
         }
       }},
      {"download",
       [&] {
         try {
           CCommunicator::Download(url, dir / "file");
           return true;
         } catch (const std::exception&) {
           return false;
         }
       }},
  };
  for (const Operation& op : operations) {
    SCOPED_TRACE(op.name);
    const auto start = Clock::now();
    EXPECT_FALSE(op.run());
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 5.0);
  }
  EXPECT_NE(::access((dir / "file").c_str(), F_OK), 0);
}

TEST(TransferLimits, TheStopRequestEndsATransferAtOnce) {
  test::SilentListener silent;
  std::stop_source stop;
  CCommunicator::SetStopToken(stop.get_token());
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop.request_stop();
  });
  std::string response;
  const auto start = Clock::now();
  TransferOutcome outcome = CCommunicator::PostRawWithOutcome(
      "http://" + silent.hostPort() + "/timestamp", "x", std::chrono::seconds(60), {}, response);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  stopper.join();
  EXPECT_TRUE(outcome.cancelled);
  EXPECT_FALSE(outcome.completed);
  EXPECT_LT(seconds, 5.0);
  // A transfer started after the request does not begin at all.
  EXPECT_FALSE(CCommunicator::Probe("http://" + silent.hostPort() + "/"));
  CCommunicator::SetStopToken({});
}

}  // namespace
}  // namespace corvane
