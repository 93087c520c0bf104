#include <gtest/gtest.h>

#include <filesystem>

#include "crypto/trust_store.h"
#include "fixtures/cabinets.h"
#include "fixtures/run_command.h"
#include "fixtures/signing_environment.h"
#include "sign/authenticode_verifier.h"

namespace corvane {
namespace {

class CliCab : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directory(env_.dir() / "tmp"); }
  test::CommandResult Cli(std::vector<std::string> args) {
    return test::RunCli(args, {{"CORVANECODE_PROGRAM_DIR", env_.dir().path()},
                               {"LANG", "C"},
                               {"TMPDIR", env_.dir() / "tmp"},
                               {"CORVANECODE_TIMESTAMP_HOST", env_.server().hostPort()},
                               {"CORVANECODE_PFX_PASSWORD", "pw"}});
  }
  std::string File(const std::string& name, const std::string& content) {
    std::string path = env_.dir() / name;
    test::WriteFileBytes(path, content);
    return path;
  }
  bool Trusted(const std::string& path) {
    X509StorePtr store = BuildTrustStore({env_.trustBundle()});
    return VerifyTrust(path, store.get()).trusted;
  }
  test::SigningEnvironment env_;
};

TEST_F(CliCab, CreatesSignsAndReportsEachFile) {
  std::string exe = env_.CopyImage("console-x64.exe");
  std::string txt = File("说明.txt", "non-ASCII member\n");
  std::string cab = env_.dir() / "tool.cab";
  test::CommandResult r = Cli({"cab", "--out", cab, exe, txt});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, exe + ": Complete\n" + txt + ": Complete\n");
  EXPECT_FALSE(Trusted(cab)) << "not signed without --sign";
  const std::map<std::string, std::string> members{
      {std::filesystem::path(exe).filename().string(), test::ReadFileBytes(exe)},
      {"说明.txt", "non-ASCII member\n"}};
  EXPECT_EQ(test::ExtractCabinet(cab, env_.dir() / "x"), members);

  // "Create and Sign", then the sign command appending to the cabinet and to an .msu.
  r = Cli({"cab", "--out", cab, "--sign", "--pfx", env_.rootA().pfxPath, exe, txt});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, exe + ": Complete\n" + txt + ": Complete\n" + cab + ": Complete\n");
  EXPECT_TRUE(Trusted(cab));
  std::string msu = env_.dir() / "update.msu";
  std::filesystem::copy_file(cab, msu);
  r = Cli({"sign", "--pfx", env_.rootB().pfxPath, "--append", cab, msu});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, cab + ": Complete\n" + msu + ": Complete\n");
  r = Cli({"verify", "--trust", env_.trustBundle(), cab, msu});
  EXPECT_EQ(r.exitStatus, 0) << r.out;
  EXPECT_NE(r.out.find("nested signature 1: valid"), std::string::npos) << r.out;
  for (const std::string& signedFile : {cab, msu}) {
    std::string log;
    EXPECT_EQ(env_.OsslVerify(signedFile, &log), 0) << log;
    EXPECT_EQ(test::ExtractCabinet(signedFile, env_.dir() / "x"), members);
  }
}

TEST_F(CliCab, AFailingFileEndsTheRunWithoutACabinet) {
  std::string first = File("first.txt", "first");
  std::string third = File("third.txt", "third");
  std::string cab = env_.dir() / "none.cab";
  test::CommandResult r = Cli({"cab", "--out", cab, "--sign", "--pfx", env_.rootA().pfxPath, first,
                               env_.dir() / "gone.txt", third});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out, first + ": Complete\n" + env_.dir() / "gone.txt" + ": Error:Failed\n" + third +
                       ": Waiting...\n");
  EXPECT_FALSE(std::filesystem::exists(cab));

  EXPECT_EQ(Cli({"cab", first}).exitStatus, 2) << "--out is required";
  EXPECT_EQ(Cli({"cab", "--out", cab, "--append", first}).exitStatus, 2)
      << "sign options need --sign";
  r = Cli({"cab", "--out", cab});
  EXPECT_EQ(r.exitStatus, 2);
  EXPECT_EQ(r.err, "Error: Please add files\n");
}

}  // namespace
}  // namespace corvane
