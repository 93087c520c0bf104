// The Debian package as a user gets it: packed from this build, listed, unpacked into a
// scratch root and run from there.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "fixtures/run_command.h"
#include "fixtures/signing_environment.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

bool Lists(const std::string& listing, const std::string& path) {
  return listing.find(" ./" + path + "\n") != std::string::npos;
}

TEST(Package, UnpackedPackageRunsAndSignsWithItsLogUnderXdgState) {
  test::SigningEnvironment env;
  test::TempDir scratch;
  test::CommandResult r = test::RunCommand(
      CORVANE_CPACK_COMMAND,
      {"-G", "DEB", "--config", CORVANE_BUILD_DIR "/CPackConfig.cmake", "-B", scratch / "out"});
  ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
  const std::string deb = scratch / ("out/corvanecode_" CORVANE_VERSION "_amd64.deb");
  ASSERT_TRUE(fs::exists(deb)) << r.out;

  r = test::RunCommand("/usr/bin/dpkg-deb", {"-c", deb});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const std::string listing = r.out;
  for (const char* path :
       {"usr/bin/corvanecode-cli", "usr/share/man/man1/corvanecode-cli.1.gz",
        "usr/share/doc/corvanecode/README.md", "usr/share/doc/corvanecode/copyright",
        "usr/share/doc/corvanecode/changelog.gz", "usr/share/corvanecode/installed"}) {
    EXPECT_TRUE(Lists(listing, path)) << path << "\n" << listing;
  }
  // The window comes with its menu entry, icon and page.
  if (Lists(listing, "usr/bin/corvanecode")) {
    for (const char* path : {"usr/share/applications/corvanecode.desktop",
                             "usr/share/icons/hicolor/scalable/apps/corvanecode.svg",
                             "usr/share/man/man1/corvanecode.1.gz"}) {
      EXPECT_TRUE(Lists(listing, path)) << path;
    }
  }
  r = test::RunCommand("/usr/bin/dpkg-deb", {"-I", deb, "control"});
  // Dependencies found by shlibdeps (a sanitizer build adds its runtime libraries first).
  const std::size_t depends = r.out.find("\nDepends: ");
  ASSERT_NE(depends, std::string::npos) << r.out;
  EXPECT_NE(r.out.find("libc6 (", depends), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("libssl3", depends), std::string::npos) << r.out;
  // Loaded when the first transfer starts, so named by hand.
  EXPECT_NE(r.out.find("libcurl4 (>= 7.88)", depends), std::string::npos) << r.out;

  const std::string root = scratch / "root";
  r = test::RunCommand("/usr/bin/dpkg-deb", {"-x", deb, root});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const std::string program = root + "/usr/bin/corvanecode-cli";
  r = test::RunCommand(program, {"--version"});
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.out, "corvanecode-cli " CORVANE_VERSION "\n");

  const std::string exe = env.CopyImage("console-x64.exe");
  const std::string txt = env.dir() / "notes.txt";
  test::WriteFileBytes(txt, "text");
  r = test::RunCommand(program, {"sign", "--pfx", env.rootA().pfxPath, exe, txt},
                       {{"LANG", "C"},
                        {"HOME", scratch / "home"},
                        {"XDG_STATE_HOME", scratch / "state"},
                        {"XDG_CONFIG_HOME", scratch / "config"},
                        {"CORVANECODE_TIMESTAMP_HOST", env.server().hostPort()},
                        {"CORVANECODE_PFX_PASSWORD", "pw"}});
  EXPECT_EQ(r.out, exe + ": Complete\n" + txt + ": Error:File is not supported\n") << r.err;
  std::string log;
  EXPECT_EQ(env.OsslVerify(exe, &log), 0) << log;
  EXPECT_NE(test::ReadFileBytes(scratch / "state/corvanecode/corvanecode-cli.log")
                .find("[Error] CGuiWnd::ExeSignTaskLoop, " + txt),
            std::string::npos);
  EXPECT_FALSE(fs::exists(root + "/usr/bin/RunLog"));
}

}  // namespace
}  // namespace corvane
