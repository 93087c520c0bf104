// Where a copy of corvanecode-cli keeps its run log, seen from outside: beside itself when its
// directory is its own, in $XDG_STATE_HOME/corvanecode/ when it is installed; feedback finds the
// log either way.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "fixtures/run_command.h"
#include "fixtures/temp_dir.h"
#include "servers/loopback_http_server.h"
#include "servers/network_services.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

class CliLocations : public ::testing::Test {
 protected:
  void SetUp() override { fs::permissions(root_.path(), fs::perms(0755)); }

  // A copy of this build's corvanecode-cli in `directory` (under the scratch root).
  std::string Copy(const std::string& directory) {
    fs::create_directories(directory);
    const std::string program = directory + "/corvanecode-cli";
    fs::copy_file(CORVANE_CLI_PATH, program);
    return program;
  }
  std::map<std::string, std::string> Environment() const {
    return {{"LANG", "C"},
            {"HOME", root_ / "home"},
            {"XDG_STATE_HOME", root_ / "state"},
            {"XDG_CONFIG_HOME", root_ / "config"}};
  }
  // A feedback report to a closed port: the failure is written to the run log.
  std::vector<std::string> FailingFeedback() const {
    return {"feedback", "--type", "bug", "--text", "hello", "--log-host", closed_.hostPort()};
  }
  std::string XdgLog() const { return root_ / "state/corvanecode/corvanecode-cli.log"; }

  test::TempDir root_;
  test::ClosedLoopbackPort closed_;
};

constexpr char kLoggedFailure[] = "[Error] FeedBackWnd::Submit : communication failed\n";

TEST_F(CliLocations, APortableCopyKeepsItsRunLogBesideItself) {
  const std::string program = Copy(root_ / "portable");
  test::CommandResult r = test::RunCommand(program, FailingFeedback(), Environment());
  EXPECT_EQ(r.exitStatus, 1) << r.err;
  EXPECT_NE(test::ReadFileBytes(root_ / "portable/RunLog/corvanecode-cli.log").find(kLoggedFailure),
            std::string::npos);
  EXPECT_FALSE(fs::exists(root_ / "state"));
}

TEST_F(CliLocations, AnInstalledCopyLogsUnderXdgStateAndFeedbackFindsTheLog) {
  const std::string program = Copy(root_ / "usr/bin");
  fs::create_directories(root_ / "usr/share/corvanecode");
  test::WriteFileBytes(root_ / "usr/share/corvanecode/installed", "installed copy\n");

  test::CommandResult r = test::RunCommand(program, FailingFeedback(), Environment());
  EXPECT_EQ(r.exitStatus, 1) << r.err;
  EXPECT_NE(test::ReadFileBytes(XdgLog()).find(kLoggedFailure), std::string::npos);
  EXPECT_FALSE(fs::exists(root_ / "usr/bin/RunLog"));

  // The next report carries that line, read from the XDG directory.
  test::TempDir tls;
  const test::LoopbackCertificates certificates = test::WriteLoopbackCertificates(tls.path());
  test::LogServer server(certificates);
  r = test::RunCommand(program,
                       {"feedback", "--type", "bug", "--text", "again", "--log-host",
                        server.hostPort(), "--ca-bundle", certificates.caCert},
                       Environment());
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  ASSERT_EQ(server.bodies().size(), 1u);
  EXPECT_NE(server.bodies()[0].find("[Error] FeedBackWnd::Submit : communication failed"),
            std::string::npos)
      << server.bodies()[0];
  EXPECT_EQ(fs::directory_iterator(root_ / "usr/bin")->path().filename(), "corvanecode-cli");
}

TEST_F(CliLocations, ACopyInADirectoryTheUserCannotWriteLogsUnderXdgState) {
  const std::string program = Copy(root_ / "opt/tool");
  fs::permissions(root_ / "opt/tool", fs::perms(0555));
  // The run log's home must be the user's own.
  fs::create_directories(root_ / "state");
  fs::create_directories(root_ / "home");
  if (test::RunsAsRoot()) {
    for (const char* dir : {"state", "home"}) {
      ASSERT_EQ(chown((root_ / dir).c_str(), test::kUnprivilegedId, test::kUnprivilegedId), 0);
    }
  }
  test::CommandResult r = test::RunCommandUnprivileged(program, FailingFeedback(), Environment());
  EXPECT_EQ(r.exitStatus, 1) << r.err;
  EXPECT_NE(test::ReadFileBytes(XdgLog()).find(kLoggedFailure), std::string::npos);
  EXPECT_FALSE(fs::exists(root_ / "opt/tool/RunLog"));
  fs::permissions(root_ / "opt/tool", fs::perms(0755));
}

}  // namespace
}  // namespace corvane
