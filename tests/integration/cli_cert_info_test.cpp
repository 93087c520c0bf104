#include <gtest/gtest.h>

#include "fixtures/run_command.h"
#include "fixtures/temp_dir.h"
#include "fixtures/test_pki.h"

namespace corvane {
namespace {

using test::CertSpec;
using test::KeyedCert;

class CliCertInfo : public ::testing::Test {
 protected:
  std::string Pfx(const std::string& name, const CertSpec& spec, const char* issuer,
                  const char* root) {
    KeyedCert ca = test::Authority(issuer);
    KeyedCert rootCert = test::Authority(root);
    KeyedCert leaf = test::Issue(spec, &ca);
    std::string path = dir_ / name;
    test::WriteFileBytes(
        path, test::MakePfx(
                  {"pw", {leaf.cert.get(), ca.cert.get(), rootCert.cert.get()}, leaf.key.get()}));
    return path;
  }
  test::CommandResult Run(const std::vector<std::string>& args, const std::string& lang = "C") {
    return test::RunCli(args, {{"CORVANECODE_PROGRAM_DIR", dir_.path()},
                               {"LANG", lang},
                               {"LC_ALL", ""},
                               {"LC_MESSAGES", ""},
                               {"CORVANECODE_PFX_PASSWORD", ""}});
  }
  test::TempDir dir_;
};

TEST_F(CliCertInfo, DescribesACertificateOfTheHierarchy) {
  std::string pfx = Pfx("ok.pfx", CertSpec{}, "issuing-b1", "root-b");
  test::CommandResult r = Run({"cert-info", "--pfx", pfx, "--password", "pw"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_NE(r.out.find("Subject:          Test Code Signer"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Code signing:     yes"), std::string::npos);
  EXPECT_NE(r.out.find("1. Corvane Code Signing CA G2 (issued by CA 柯文根证书"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("2. CA 柯文根证书 (issued by CA 柯文根证书"), std::string::npos);
  EXPECT_NE(r.out.find("ownCaIssued:      yes"), std::string::npos);
  EXPECT_NE(r.out.find("chineseNamedRoot: yes"), std::string::npos);
}

TEST_F(CliCertInfo, BadInputGivesOneClearLineAndAFailingStatus) {
  std::string pfx = Pfx("ok.pfx", CertSpec{}, "issuing-a1", "root-a");
  CertSpec expiredSpec;
  expiredSpec.notBeforeSeconds = -86400;
  expiredSpec.notAfterSeconds = -10;
  std::string expired = Pfx("expired.pfx", expiredSpec, "issuing-a1", "root-a");
  test::WriteFileBytes(dir_ / "junk.pfx", "junk");
  test::WriteFileBytes(dir_ / "pw.txt", "pw\n");
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* err;
  } cases[] = {
      {{"cert-info", "--pfx", pfx, "--password", "nope"},
       1,
       "Error: Password error or certificate error\n"},
      {{"cert-info", "--pfx", dir_ / "missing.pfx"}, 1, "Error: Certificate file not exist\n"},
      {{"cert-info", "--pfx", dir_ / "junk.pfx"},
       1,
       "Error: Password error or certificate error\n"},
      {{"cert-info", "--pfx", expired, "--password", "pw"},
       3,
       "Error: The certificate has expired\n"},
      {{"cert-info"}, 2, "Error: Please select a certificate\n"},
      {{"cert-info", "--pfx", pfx, "--password-file", dir_ / "pw.txt"}, 0, ""},
      {{"cert-info", "--pfx", pfx, "--bogus"}, 2, "cert-info: unknown option --bogus\n"},
      {{"frobnicate"}, 2, "corvanecode-cli: unknown command 'frobnicate' (see --help)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    test::CommandResult r = Run(c.args);
    EXPECT_EQ(r.exitStatus, c.status);
    if (c.status != 0) {
      EXPECT_EQ(r.err, c.err);
    }
  }
}

TEST_F(CliCertInfo, SpeaksChineseInAChineseLocale) {
  test::CommandResult r = Run({"cert-info", "--pfx", dir_ / "missing.pfx"}, "zh_CN.UTF-8");
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err, "错误： 证书文件不存在！\n");
}

TEST(CliHelp, ListsTheCommands) {
  test::CommandResult r = test::RunCli({"--help"});
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_NE(r.out.find("cert-info --pfx FILE"), std::string::npos);
}

}  // namespace
}  // namespace corvane
