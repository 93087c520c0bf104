// extract-signature, attach-signature and remove-signature on real files of each format: a
// signature made on one copy of a file and placed on another, refused for a different file.
#include <gtest/gtest.h>

#include <filesystem>

#include "fixtures/cabinets.h"
#include "fixtures/compound_files.h"
#include "fixtures/run_command.h"
#include "fixtures/signing_environment.h"
#include "fixtures/temp_dir.h"

namespace corvane {
namespace {

class CliDetachedSignature : public ::testing::Test {
 protected:
  test::CommandResult Cli(std::vector<std::string> args) { return env_.Cli(args); }
  std::string Copy(const std::string& from, const std::string& name) {
    const std::string to = env_.dir() / name;
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    return to;
  }
  test::SigningEnvironment env_;
};

TEST_F(CliDetachedSignature, MovesASignatureToAnotherCopyOfTheSameFile) {
  test::Gcab(env_.dir() / "made.cab", {env_.CopyImage("library-x64.dll", "member.dll")}, true);
  struct Case {
    std::string unsigned_;  // a file of the format, unsigned
    std::string other;      // another file of the same format
    const char* ext;
  } cases[] = {
      {env_.CopyImage("console-x64.exe"), env_.CopyImage("console-x86.exe"), ".exe"},
      {test::TestPackagePath(), "", ".msi"},
      {env_.dir() / "made.cab", "", ".cab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ext);
    const std::string a = Copy(c.unsigned_, std::string("a") + c.ext);
    const std::string b = Copy(c.unsigned_, std::string("b") + c.ext);
    const std::string p7 = env_.dir() / "a.p7";
    ASSERT_EQ(Cli({"sign", "--pfx", env_.rootA().pfxPath, a}).exitStatus, 0);

    test::CommandResult r = Cli({"extract-signature", a, "--out", p7});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    test::CommandResult openssl = test::RunCommand(
        "/usr/bin/openssl", {"pkcs7", "-inform", "DER", "-in", p7, "-print_certs", "-noout"});
    EXPECT_EQ(openssl.exitStatus, 0) << openssl.err;

    r = Cli({"attach-signature", b, p7});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    // A PE image comes out as the signed copy byte for byte (a compound file may place the
    // stream elsewhere, a cabinet pads the signature area as its first write left it).
    if (std::string(c.ext) == ".exe") {
      EXPECT_TRUE(test::ReadFileBytes(b) == test::ReadFileBytes(a)) << "not the same signed file";
    }
    EXPECT_EQ(env_.OsslVerify(b), 0);
    // PEM works too, onto a file signed already (its signature is replaced).
    test::CommandResult pem = test::RunCommand(
        "/usr/bin/openssl", {"pkcs7", "-inform", "DER", "-in", p7, "-out", env_.dir() / "a.pem"});
    ASSERT_EQ(pem.exitStatus, 0) << pem.err;
    EXPECT_EQ(Cli({"attach-signature", b, env_.dir() / "a.pem"}).exitStatus, 0);
    EXPECT_EQ(env_.OsslVerify(b), 0);

    if (!c.other.empty()) {
      const std::string other = Copy(c.other, std::string("other") + c.ext);
      const std::string before = test::ReadFileBytes(other);
      r = Cli({"attach-signature", other, p7});
      EXPECT_EQ(r.exitStatus, 1);
      EXPECT_NE(r.err.find("the signature was made for another file"), std::string::npos) << r.err;
      EXPECT_TRUE(test::ReadFileBytes(other) == before) << "a refused signature changed the file";
    }

    r = Cli({"remove-signature", b});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(env_.OsslVerify(b), 0);
    r = Cli({"extract-signature", b, "--out", p7});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("the file is not signed"), std::string::npos) << r.err;
    // Signed again after the removal: the removed file is a sound unsigned file.
    ASSERT_EQ(Cli({"sign", "--pfx", env_.rootA().pfxPath, b}).exitStatus, 0);
    EXPECT_EQ(env_.OsslVerify(b), 0);
  }
}

TEST_F(CliDetachedSignature, RefusesWhatCarriesNoMovableSignature) {
  const std::string text = env_.dir() / "notes.txt";
  test::WriteFileBytes(text, "plain text");
  const std::string exe = env_.CopyImage("console-x64.exe");
  const std::string junk = env_.dir() / "junk.p7";
  test::WriteFileBytes(junk, "not a signature");
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* err;
  } cases[] = {
      {{"extract-signature", text, "--out", junk}, 1, "not a PE image, cabinet or installer"},
      {{"extract-signature", exe, "--out", junk}, 1, "the file is not signed"},
      {{"remove-signature", exe}, 1, "the file is not signed"},
      {{"attach-signature", exe, junk}, 1, "holds no PKCS #7 signature"},
      {{"attach-signature", exe, env_.dir() / "missing.p7"}, 1, "cannot be read"},
      {{"extract-signature", exe}, 2, "--out"},
  };
  const std::string before = test::ReadFileBytes(exe);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    test::CommandResult r = Cli(c.args);
    EXPECT_EQ(r.exitStatus, c.status);
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
  EXPECT_TRUE(test::ReadFileBytes(exe) == before);
  EXPECT_EQ(test::ReadFileBytes(junk), "not a signature");
}

}  // namespace
}  // namespace corvane
