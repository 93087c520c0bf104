#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fixtures/run_command.h"
#include "fixtures/temp_dir.h"
#include "fixtures/test_pki.h"

namespace corvane {
namespace {

class CliCsrTools : public ::testing::Test {
 protected:
  test::CommandResult Run(const std::vector<std::string>& args, const std::string& lang = "C") {
    return test::RunCli(args, {{"CORVANECODE_PROGRAM_DIR", dir_.path()},
                               {"LANG", lang},
                               {"LC_ALL", ""},
                               {"LC_MESSAGES", ""},
                               {"CORVANECODE_PFX_PASSWORD", ""}});
  }
  test::CommandResult OpenSsl(const std::vector<std::string>& args) {
    return test::RunCommand("/usr/bin/openssl", args);
  }
  test::TempDir dir_;
};

TEST_F(CliCsrTools, MakesRequestsOfEachKind) {
  struct Case {
    std::vector<std::string> fields;
    const char* subject;  // as openssl prints it
  } cases[] = {
      {{"--kind", "code", "--publisher", "Publisher A", "--unit", "Unit B"},
       "subject=O = Publisher A, CN = Unit B"},
      {{"--kind", "client", "--common-name", "Client", "--email", "ab@c.com"},
       "subject=CN = Client, emailAddress = ab@c.com"},
      {{"--kind", "ssl", "--domain", "www.example.cn", "--unit", "Org", "--country", "us"},
       "subject=CN = www.example.cn, O = Org, C = US"},
      {{"--kind", "ssl", "--domain", "www.example.cn", "--unit", "Org"},
       "subject=CN = www.example.cn, O = Org, C = CN"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.subject);
    std::vector<std::string> args{"csr",          "--bits", "2048",        "--key-out",
                                  dir_ / "k.pem", "--out",  dir_ / "r.csr"};
    args.insert(args.end(), c.fields.begin(), c.fields.end());
    test::CommandResult r = Run(args);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("Version:0,   Encryption algorithm:RSA,   Length:2048 bit,\n"
                         "Signature Algorithm: sha1WithRSAEncryption,\nUser Information:\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 26), "Generate CSR successfully\n");
    test::CommandResult verify =
        OpenSsl({"req", "-in", dir_ / "r.csr", "-verify", "-noout", "-subject"});
    EXPECT_EQ(verify.exitStatus, 0) << verify.err;
    EXPECT_NE(verify.out.find(c.subject), std::string::npos) << verify.out;
    struct stat st {};
    ASSERT_EQ(::stat((dir_ / "k.pem").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    test::CommandResult modulus = OpenSsl({"rsa", "-in", dir_ / "k.pem", "-noout", "-modulus"});
    test::CommandResult reqModulus = OpenSsl({"req", "-in", dir_ / "r.csr", "-noout", "-modulus"});
    EXPECT_EQ(modulus.out, reqModulus.out);
  }
}

TEST_F(CliCsrTools, RefusesBadCsrInput) {
  const std::string key = dir_ / "k.pem", out = dir_ / "r.csr";
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* err;
  } cases[] = {
      {{"csr", "--bits", "1024", "--key-out", key, "--out", out},
       1,
       "Error: The key length can not be empty,please select a key length\n"},
      {{"csr", "--bits", "2048", "--out", out},
       1,
       "Error: The private key file can not be empty, please select a file\n"},
      {{"csr", "--kind", "client", "--email", "a@b.org", "--bits", "2048", "--key-out", key,
        "--out", out},
       1,
       "Error: Email is illegal,please check and re-enter\n"},
      {{"csr", "--bits", "2048", "--key-out", "/nonexistent-dir/k.pem", "--out", out},
       1,
       "Error: Generate CSR failed\n"},
      {{"csr", "--kind", "code", "--email", "a@b.com", "--bits", "2048", "--key-out", key, "--out",
        out},
       2,
       "csr: --email does not apply to --kind code\n"},
      {{"csr", "--kind", "ssl", "--country", "QQ", "--bits", "2048", "--key-out", key, "--out",
        out},
       2,
       "csr: --country must be a listed two-letter code\n"},
      {{"csr", "--bits", "3072", "--key-out", key, "--out", out},
       2,
       "csr: --bits must be 2048 or 4096\n"},
      {{"csr", "--kind", "web", "--bits", "2048", "--key-out", key, "--out", out},
       2,
       "csr: --kind must be code, client or ssl\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    test::CommandResult r = Run(c.args);
    EXPECT_EQ(r.exitStatus, c.status);
    EXPECT_EQ(r.err, c.err);
  }
  EXPECT_NE(::access(out.c_str(), F_OK), 0);  // no request was written by any of them
}

TEST_F(CliCsrTools, ChecksRequestsAndSpeaksChinese) {
  ASSERT_EQ(Run({"csr", "--kind", "ssl", "--domain", "www.example.cn", "--unit", "柯文", "--bits",
                 "2048", "--key-out", dir_ / "k.pem", "--out", dir_ / "r.csr"})
                .exitStatus,
            0);
  test::CommandResult r = Run({"check-csr", dir_ / "r.csr"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_NE(r.out.find("User Information:\nC=CN \nO=柯文 \nCN=www.example.cn \n"
                       "Check CSR successfully\n"),
            std::string::npos)
      << r.out;
  test::CommandResult zh = Run({"check-csr", dir_ / "r.csr"}, "zh_CN.UTF-8");
  EXPECT_EQ(zh.exitStatus, 0);
  EXPECT_NE(zh.out.find("CN=www.example.cn"), std::string::npos);

  test::WriteFileBytes(dir_ / "junk.csr", std::string(200, 'A'));
  r = Run({"check-csr", dir_ / "junk.csr"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err,
            "Error: The CSR content is illegal,please paste the legal CSR to the text box\n");
  EXPECT_EQ(Run({"check-csr"}).exitStatus, 2);
}

TEST_F(CliCsrTools, JoinsAPfxAndBuildsAnSpc) {
  test::KeyedCert root = test::Authority("root-a");
  test::KeyedCert ca = test::Authority("issuing-a1");
  test::KeyedCert user = test::Issue(test::CertSpec{}, &ca);
  const std::string userPem = test::ToPem(user.cert.get());
  test::WriteFileBytes(dir_ / "user.pem", userPem);
  test::WriteFileBytes(dir_ / "ca.pem", test::ToPem(ca.cert.get()));
  test::WriteFileBytes(dir_ / "root.pem", test::ToPem(root.cert.get()));
  {
    BioPtr bio(BIO_new_file((dir_ / "user.key").c_str(), "w"));
    PEM_write_bio_PrivateKey(bio.get(), user.key.get(), nullptr, nullptr, 0, nullptr, nullptr);
  }

  test::CommandResult r = Run({"pfx", "--cert", dir_ / "user.pem", "--key", dir_ / "user.key",
                               "--password", "pw", "--out", dir_ / "a.pfx"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, "Generate PFX file successfully\n");
  r = Run({"pfx", "--cert-text", userPem, "--key", dir_ / "user.key", "--password", "pw", "--out",
           dir_ / "b.pfx"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  test::CommandResult info =
      OpenSsl({"pkcs12", "-in", dir_ / "b.pfx", "-passin", "pass:pw", "-nokeys", "-clcerts"});
  EXPECT_EQ(info.exitStatus, 0) << info.err;
  EXPECT_NE(info.out.find("Test Code Signer"), std::string::npos);
  r = Run({"pfx", "--cert", dir_ / "ca.pem", "--key", dir_ / "user.key", "--password", "pw",
           "--out", dir_ / "c.pfx"},
          "zh_CN.UTF-8");
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err, "错误： 生成PFX文件失败，请检查输入\n");

  // Keys that occur in two groups of the language table read as their first occurrence.
  r = Run({"pfx", "--cert", dir_ / "user.pem", "--out", dir_ / "c.pfx"});
  EXPECT_EQ(r.err, "Error: The private key file can not be empty, please select a file\n");
  r = Run(
      {"pfx", "--cert", dir_ / "missing.pem", "--key", dir_ / "user.key", "--out", dir_ / "c.pfx"});
  EXPECT_EQ(r.err, "Error: Certificate file not exist\n");

  r = Run({"spc", "--user", dir_ / "user.pem", "--upper", dir_ / "ca.pem", "--upper",
           dir_ / "ca.pem", "--upper", dir_ / "root.pem", "--out", dir_ / "chain.spc"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, "Generate SPC file successfully\n");
  test::CommandResult certs = OpenSsl({"pkcs7", "-in", dir_ / "chain.spc", "-print_certs"});
  EXPECT_EQ(certs.exitStatus, 0) << certs.err;
  std::size_t caAt = certs.out.find("subject=C = CN, O = Corvane Trust, CN = Corvane Code");
  std::size_t rootAt = certs.out.find("subject=C = CN, O = Corvane Trust, CN = Certification");
  std::size_t userAt = certs.out.find("subject=O = Test Org, CN = Test Code Signer");
  EXPECT_LT(caAt, rootAt);
  EXPECT_LT(rootAt, userAt);
  EXPECT_NE(userAt, std::string::npos) << certs.out;
  r = Run({"spc", "--user-text", "junk", "--out", dir_ / "x.spc"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err, "Error: The user cert content is invalid,please paste a valid cert content\n");
  EXPECT_EQ(Run({"spc", "--user", dir_ / "user.pem", "--upper", "a", "--upper", "b", "--upper", "c",
                 "--upper", "d", "--out", dir_ / "x.spc"})
                .exitStatus,
            2);
}

}  // namespace
}  // namespace corvane
