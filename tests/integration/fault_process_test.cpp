// Faults that need several processes: a signing killed at several points, and two signings
// of one file at the same time.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "fixtures/cabinets.h"
#include "fixtures/fault_workspace.h"
#include "fixtures/temp_dir.h"
#include "sign/working_copy.h"

namespace corvane {
namespace {

using test::CommandResult;
using test::FaultWorkspace;

std::vector<std::string> SignArgs(FaultWorkspace& w, const std::vector<std::string>& extra) {
  std::vector<std::string> args{"sign", "--pfx", w.env().rootA().pfxPath};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

// The id of a process that has ended.
pid_t EndedProcessId() {
  test::BackgroundCommand done("/bin/true", {});
  const pid_t pid = done.pid();
  done.Wait();
  return pid;
}

TEST(FaultProcesses, KilledSigningsLeaveTheFileWholeAndNothingBehind) {
  FaultWorkspace w;
  const std::string image = w.LargeImage(w / "big.exe", 48u << 20);
  const std::string cab = w / "pack.cab";
  const std::string member = w.tmp() + "/member.bin";
  test::WriteFileBytes(member, test::PatternBytes(8u << 20, 5));
  test::Gcab(cab, {member}, false);
  ::unlink(member.c_str());

  for (const std::string& path : {image, cab}) {
    SCOPED_TRACE(path);
    const std::string before = test::ReadFileBytes(path);
    for (int delayMs : {40, 120, 250, 400, 700}) {
      SCOPED_TRACE(delayMs);
      std::vector<std::string> args = SignArgs(w, {path});
      test::BackgroundCommand signing(CORVANE_CLI_PATH, args, w.CliEnv());
      std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
      signing.Kill(SIGKILL);
      signing.Wait();
      // Killed before the end the file is as it was; killed after it, it is signed.
      const std::string after = test::ReadFileBytes(path);
      if (after != before) {
        EXPECT_EQ(w.env().OsslVerify(path), 0);
      }
      test::WriteFileBytes(path, before);
    }
  }
  // A named working copy of a process that has ended, as a crash leaves one where the file
  // system has no unnamed files, and the probe cabinet of one killed while it probed the key:
  // the next signing removes them.
  const std::string ended = std::to_string(EndedProcessId());
  test::WriteFileBytes(w.work() + "/" + WorkingCopyPrefix("pack.cab") + ended + "-AbC123",
                       "half a cabinet");
  const std::string probe = "corvanetempfile.cab." + ended + "-XyZ789";
  test::WriteFileBytes(w.tmp() + "/" + probe, "probe");
  test::WriteFileBytes(w.tmp() + "/." + probe + ".corvane-QrS456", "probe being rewritten");
  CommandResult r = w.Sign({image, cab});
  EXPECT_EQ(r.out, image + ": Complete\n" + cab + ": Complete\n") << r.err;
  EXPECT_EQ(w.Leftovers({"big.exe", "pack.cab"}), std::vector<std::string>{});
}

TEST(FaultProcesses, TwoAppendingSigningsAtOnceBothLand) {
  FaultWorkspace w;
  const std::string path = w.LargeImage(w / "shared.exe", 16u << 20);
  ASSERT_EQ(w.Sign({path}).out, path + ": Complete\n");
  ASSERT_EQ(test::NestedSignatureCount(w, path), 0);
  for (int round = 1; round <= 3; ++round) {
    SCOPED_TRACE(round);
    std::vector<std::string> args = SignArgs(w, {"--append", path});
    test::BackgroundCommand first(CORVANE_CLI_PATH, args, w.CliEnv());
    test::BackgroundCommand second(CORVANE_CLI_PATH, args, w.CliEnv());
    CommandResult a = first.WaitAtMost(std::chrono::seconds(120));
    CommandResult b = second.WaitAtMost(std::chrono::seconds(120));
    EXPECT_EQ(a.out, path + ": Complete\n") << a.err;
    EXPECT_EQ(b.out, path + ": Complete\n") << b.err;
    // "Complete" means the signature is in the file: none of them is lost.
    EXPECT_EQ(test::NestedSignatureCount(w, path), 2 * round);
  }
  EXPECT_EQ(w.env().OsslVerify(path), 0);
  EXPECT_EQ(w.Leftovers({"shared.exe"}), std::vector<std::string>{});
}

}  // namespace
}  // namespace corvane
