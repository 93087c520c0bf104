#include "base/data_locations.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "base/program_dir.h"
#include "base/run_log.h"
#include "fixtures/run_command.h"
#include "fixtures/scoped_env.h"
#include "fixtures/temp_dir.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

// InstallKindOf as seen by a user that the directory's permissions bind (see
// RunCommandUnprivileged): as root the check runs in a child that has dropped to nobody.
InstallKind KindForUnprivilegedUser(const std::string& directory) {
  if (!test::RunsAsRoot()) return InstallKindOf(directory);
  const pid_t pid = fork();
  if (pid == 0) {
    if (setgid(test::kUnprivilegedId) != 0 || setuid(test::kUnprivilegedId) != 0) _exit(2);
    _exit(InstallKindOf(directory) == InstallKind::Installed ? 1 : 0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) < 2) << "child could not drop to nobody";
  return WEXITSTATUS(status) == 1 ? InstallKind::Installed : InstallKind::Portable;
}

TEST(InstallKind, MarkerOrUnwritableDirectoryMeansInstalled) {
  test::TempDir root;
  fs::permissions(root.path(), fs::perms(0755));
  const std::string portable = root / "portable";
  const std::string bin = root / "usr/bin";
  const std::string readOnly = root / "opt/tool";
  for (const std::string& dir : {portable, bin, readOnly}) fs::create_directories(dir);
  fs::create_directories(root / "usr/share/corvanecode");
  test::WriteFileBytes(root / "usr/share/corvanecode/installed", "marker\n");
  // Writable by whoever runs the check: the owner, or nobody when the test runs as root.
  if (test::RunsAsRoot()) {
    ASSERT_EQ(chown(portable.c_str(), test::kUnprivilegedId, test::kUnprivilegedId), 0);
    ASSERT_EQ(chown(bin.c_str(), test::kUnprivilegedId, test::kUnprivilegedId), 0);
  }
  fs::permissions(readOnly, fs::perms(0555));

  const struct {
    std::string directory;
    InstallKind kind;
  } cases[] = {
      {portable, InstallKind::Portable},
      {bin, InstallKind::Installed},       // writable, but the install rules' marker is there
      {readOnly, InstallKind::Installed},  // no marker, but the user may not write it
      {root / "absent", InstallKind::Installed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.directory);
    EXPECT_EQ(KindForUnprivilegedUser(c.directory), c.kind);
  }
  EXPECT_EQ(InstallKindOf(bin), InstallKind::Installed);
}

TEST(XdgDirectories, AbsoluteValuesWinRelativeOnesFallBackToHome) {
  test::ScopedEnv home("HOME", "/home/someone");
  {
    test::ScopedEnv state("XDG_STATE_HOME", "/var/tmp/state");
    test::ScopedEnv config("XDG_CONFIG_HOME", "/var/tmp/config");
    EXPECT_EQ(XdgStateDirectory(), "/var/tmp/state/corvanecode");
    EXPECT_EQ(XdgConfigDirectory(), "/var/tmp/config/corvanecode");
  }
  test::ScopedEnv state("XDG_STATE_HOME", "relative/state");
  test::ScopedEnv config("XDG_CONFIG_HOME", "");
  EXPECT_EQ(XdgStateDirectory(), "/home/someone/.local/state/corvanecode");
  EXPECT_EQ(XdgConfigDirectory(), "/home/someone/.config/corvanecode");
}

TEST(DataLocations, AChosenProgramDirectoryKeepsTheFilesBesideIt) {
  test::TempDir dir;
  test::ScopedEnv state("XDG_STATE_HOME", dir / "state");
  SetProgramDirectory(dir.path());
  EXPECT_TRUE(KeepsFilesBesideProgram());
  EXPECT_EQ(RunLogLocation(), dir / "RunLog");
  EXPECT_EQ(UserFileLocation(), dir / "Config");
  SetProgramDirectory("");
  // This test program lives in the build tree: a writable directory without the marker.
  EXPECT_EQ(RunningInstallKind(), InstallKind::Portable);
  EXPECT_EQ(RunLogDirectory(), ExecutableDirectory() + "/RunLog");
}

}  // namespace
}  // namespace corvane
