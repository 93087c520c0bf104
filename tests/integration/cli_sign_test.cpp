#include <gtest/gtest.h>

#include "fixtures/run_command.h"
#include "fixtures/signing_environment.h"
#include "net/md5_digest.h"
#include "servers/network_services.h"

namespace corvane {
namespace {

class CliSign : public ::testing::Test {
 protected:
  test::CommandResult Cli(std::vector<std::string> args) { return env_.Cli(args); }
  test::SigningEnvironment env_;
};

TEST_F(CliSign, SignsVerifiesAndReportsEachFile) {
  std::string exe = env_.CopyImage("console-x64.exe");
  std::string sys = env_.CopyImage("driver-x64.sys");
  std::string txt = env_.dir() / "notes.txt";
  test::WriteFileBytes(txt, "text");
  test::CommandResult r = Cli({"sign", "--pfx", env_.rootA().pfxPath, exe, txt, sys});
  EXPECT_EQ(r.exitStatus, 1) << r.err;
  EXPECT_EQ(r.out, exe + ": Complete\n" + txt + ": Error:File is not supported\n" + sys +
                       ": Complete: Sign the SYS files using kernel mode\n");
  EXPECT_NE(test::ReadFileBytes(env_.dir() / "RunLog/corvanecode-cli.log")
                .find("CGuiWnd::ExeSignTaskLoop, " + txt + ", file type is not supported"),
            std::string::npos);

  r = Cli({"verify", "--trust", env_.trustBundle(), exe, sys});
  EXPECT_EQ(r.exitStatus, 0) << r.out;
  EXPECT_NE(r.out.find(exe + ": Complete\n  primary signature: valid, sha256"), std::string::npos)
      << r.out;

  std::string untouched = env_.CopyImage("console-x86.exe");
  r = Cli({"verify", "--trust", env_.trustBundle(), untouched});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_NE(r.out.find(untouched + ": Verify signature failed\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("the file is not signed"), std::string::npos);
}

TEST_F(CliSign, JobsSignSeveralFilesAtOnceAndPrintTheLinesInListOrder) {
  std::vector<std::string> files;
  std::string expected;
  for (int i = 0; i < 5; ++i) {
    files.push_back(env_.CopyImage("library-x64.dll", "lib" + std::to_string(i) + ".dll"));
    expected += files.back() + ": Complete\n";
    if (i == 2) {
      files.push_back(env_.dir() / "notes.txt");
      test::WriteFileBytes(files.back(), "text");
      expected += files.back() + ": Error:File is not supported\n";
    }
  }
  std::vector<std::string> args = {"sign", "--pfx", env_.rootA().pfxPath, "--jobs", "3"};
  args.insert(args.end(), files.begin(), files.end());
  test::CommandResult r = Cli(args);
  EXPECT_EQ(r.exitStatus, 1) << r.err;
  EXPECT_EQ(r.out, expected);

  for (const char* refused : {"0", "65", "two", "-1", ""}) {
    SCOPED_TRACE(refused);
    r = Cli({"sign", "--pfx", env_.rootA().pfxPath, "--jobs", refused, files[0]});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_EQ(r.err, "sign: --jobs must be a whole number from 1 to 64\n");
    EXPECT_EQ(r.out, "");
  }
}

// Page hashes of SHA-1 and SHA-256 signatures, nested ones too, checked by both verifiers.
TEST_F(CliSign, PageHashesAreAddedOnRequestAndVerified) {
  struct Case {
    const char* image;
    const test::TestSigner& signer;
    const char* pages;  // as osslsigncode names the page digest
  } cases[] = {{"console-x64.exe", env_.rootA(), "SHA256"},
               {"library-x64.dll", env_.sha1(), "SHA1"},
               {"console-x86.exe", env_.rootA(), "SHA256"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.image);
    std::string file = env_.CopyImage(c.image);
    test::CommandResult r = Cli({"sign", "--pfx", c.signer.pfxPath, "--page-hashes", file});
    ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
    std::string log;
    EXPECT_EQ(env_.OsslVerify(file, &log), 0) << log;
    EXPECT_NE(log.find(std::string("Page hash algorithm  : ") + c.pages), std::string::npos) << log;
    EXPECT_EQ(log.find("MISMATCH"), std::string::npos) << log;
    r = Cli({"verify", "--trust", env_.trustBundle(), file});
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    EXPECT_NE(r.out.find("with page hashes"), std::string::npos) << r.out;
  }
  // Without the option nothing changes; a nested signature may carry them on its own.
  std::string plain = env_.CopyImage("console-x64.exe", "plain.exe");
  ASSERT_EQ(Cli({"sign", "--pfx", env_.sha1().pfxPath, plain}).exitStatus, 0);
  test::CommandResult r = Cli({"verify", "--trust", env_.trustBundle(), plain});
  EXPECT_EQ(r.out.find("page hashes"), std::string::npos) << r.out;
  ASSERT_EQ(
      Cli({"sign", "--pfx", env_.rootA().pfxPath, "--append", "--page-hashes", plain}).exitStatus,
      0);
  r = Cli({"verify", "--trust", env_.trustBundle(), plain});
  EXPECT_EQ(r.exitStatus, 0) << r.out;
  EXPECT_NE(r.out.find("nested signature 1: valid, sha256"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("with page hashes"), std::string::npos) << r.out;
  EXPECT_EQ(env_.OsslVerify(plain), 0);
}

TEST_F(CliSign, ScanHostOptionNamesTheReputationService) {
  test::ReputationServer service;
  std::string virus = env_.CopyImage("console-x64.exe", "virus.exe");
  std::string dll = env_.CopyImage("library-x64.dll");
  const std::string before = test::ReadFileBytes(virus);
  service.SetAnswer(FileMd5Hex(virus), test::ReputationServer::Answer::Level70);
  test::CommandResult r =
      Cli({"sign", "--pfx", env_.rootA().pfxPath, "--scan-host", service.hostPort(), virus, dll});
  EXPECT_EQ(r.exitStatus, 1) << r.err;
  EXPECT_EQ(r.out, virus + ": Error:Viruses or malicious file\n" + dll + ": Complete\n");
  EXPECT_EQ(test::ReadFileBytes(virus), before);
  EXPECT_EQ(service.bodies().size(), 3u);  // the probe and one query per file
  EXPECT_TRUE(env_.reputation().bodies().empty());
}

TEST_F(CliSign, KernelModeOutsideTheHierarchyNeedsAMatchingCrossCertificate) {
  std::string sys = env_.CopyImage("driver-x64.sys");
  std::string before = test::ReadFileBytes(sys);
  struct Case {
    std::vector<std::string> extra;
    const char* err;
  } refused[] = {
      {{}, "Error: Please select a kernel cross certificate.\n"},
      {{"--cross-cert", env_.dir() / "missing.cer"},
       "Error: Kernel cross certificate is not exist, please reselect.\n"},
      {{"--cross-cert", env_.wrongKeyCrossCert()},
       "Error: The kernel cross certificate and user certificate don't match, please reselect.\n"},
  };
  for (const Case& c : refused) {
    std::vector<std::string> args{"sign", "--pfx", env_.foreign().pfxPath, "--kernel"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    args.push_back(sys);
    test::CommandResult r = Cli(args);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(test::ReadFileBytes(sys), before);
  }
  test::CommandResult r = Cli({"sign", "--pfx", env_.foreign().pfxPath, "--kernel", "--cross-cert",
                               env_.foreignCrossCert(), sys});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, sys + ": Complete\n");
  EXPECT_EQ(env_.OsslVerify(sys), 0);
}

TEST_F(CliSign, CertificateProblemsStopTheRunBeforeAnyFile) {
  std::string exe = env_.CopyImage("console-x64.exe");
  std::string before = test::ReadFileBytes(exe);
  struct Case {
    std::vector<std::string> args;
    const char* err;
  } cases[] = {
      {{"sign", exe}, "Error: Please select a certificate\n"},
      {{"sign", "--pfx", env_.dir() / "none.pfx", exe}, "Error: Certificate file not exist\n"},
      {{"sign", "--pfx", env_.rootA().pfxPath, "--password", "bad", exe},
       "Error: Password error or certificate error\n"},
  };
  for (const Case& c : cases) {
    test::CommandResult r = Cli(c.args);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(test::ReadFileBytes(exe), before);
  }
}

TEST_F(CliSign, UnreachableTimestampServerWarnsAndKeepsTheSignedFile) {
  std::string exe = env_.CopyImage("console-x64.exe");
  test::CommandResult r =
      test::RunCli({"sign", "--pfx", env_.rootA().pfxPath, "--timestamp-host", "127.0.0.1:1", exe},
                   {{"CORVANECODE_PROGRAM_DIR", env_.dir().path()},
                    {"LANG", "C"},
                    {"CORVANECODE_PFX_PASSWORD", "pw"}});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_NE(r.err.find("Unconnected the network, timestamp is disabled!"), std::string::npos)
      << r.err;
  EXPECT_EQ(
      r.out,
      exe + ": Warning:Signature successful, but not add a timestamp, please check the network\n");
  EXPECT_EQ(env_.OsslVerify(exe), 0);
}

}  // namespace
}  // namespace corvane
