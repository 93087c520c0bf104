#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "crypto/x509_names.h"
#include "fixtures/run_command.h"
#include "fixtures/signing_environment.h"
#include "fixtures/token_signer.h"

namespace corvane {
namespace {

class CliKeyStore : public ::testing::Test {
 protected:
  void SetUp() override {
    std::shared_ptr<KeyStore> store = world_.OpenStore();
    TokenKey key = store->GenerateRsaKey(0, 2048, "cli key");
    test::KeyedCert issuing = test::Authority("issuing-a1");
    store->PutCertificate(0, issuing.cert.get(), "", "issuing CA");
    test::CertSpec spec;
    spec.commonName = "Cli Token Signer";
    spec.serialHex = "00c0ffee";
    cert_ = world_.PutCert(*store, spec, issuing, key.key, key.id, "cli signer");
    name_ = IssuerDisplayName(cert_.get()) + ":" + SerialHex(cert_.get());
  }
  test::CommandResult Cli(std::vector<std::string> args, bool withPin = true) {
    std::map<std::string, std::string> env = world_.tokens().Environment();
    env["CORVANECODE_PROGRAM_DIR"] = env_.dir().path();
    env["LANG"] = "C";
    env["CORVANECODE_TIMESTAMP_HOST"] = env_.server().hostPort();
    env["XDG_CONFIG_HOME"] = world_.configHome();
    env["CORVANECODE_PKCS11_MODULE"] = test::kSoftHsmModule;
    if (withPin) env["CORVANECODE_PIN"] = test::kTokenPin;
    return test::RunCli(args, env);
  }

  test::SigningEnvironment env_;
  test::TokenWorld world_;
  X509Ptr cert_;
  std::string name_;
};

TEST_F(CliKeyStore, ListsShowsAndSignsWithATokenCertificate) {
  test::CommandResult list = Cli({"store", "list"});
  EXPECT_EQ(list.exitStatus, 0) << list.err;
  EXPECT_NE(
      list.out.find("Cli Token Signer\n  issuer: Corvane Code Signing CA\n  serial: 00c0ffee\n"
                    "  token:  Signing\n"),
      std::string::npos)
      << list.out;
  EXPECT_EQ(list.out.find("issuing CA"), std::string::npos) << "a CA is never listed";

  test::CommandResult show = Cli({"store", "show", name_});
  EXPECT_EQ(show.exitStatus, 0) << show.err;
  EXPECT_NE(show.out.find("Thumbprint:  " + Thumbprint(cert_.get())), std::string::npos)
      << show.out;
  EXPECT_NE(show.out.find("Private key: on the token"), std::string::npos);

  const struct {
    std::string certName;
  } names[] = {{name_},
               {"Corvane Code Signing CA:00C0FFEE"},
               {"pkcs11:token=Signing;object=cli%20signer;type=cert"}};
  for (const auto& n : names) {
    SCOPED_TRACE(n.certName);
    std::string exe = env_.CopyImage("console-x64.exe");
    test::CommandResult sign = Cli({"sign", "--store-cert", n.certName, exe});
    EXPECT_EQ(sign.exitStatus, 0) << sign.err << sign.out;
    EXPECT_EQ(sign.out, exe + ": Complete\n");
    std::string log;
    EXPECT_EQ(env_.OsslVerify(exe, &log), 0) << log;
  }
}

TEST_F(CliKeyStore, RefusedPinsLeaveTheFileAsItWas) {
  std::string exe = env_.CopyImage("console-x64.exe");
  const std::string before = test::ReadFileBytes(exe);
  test::CommandResult wrong = Cli({"sign", "--store-cert", name_, "--pin", "999999", exe});
  EXPECT_EQ(wrong.exitStatus, 1);
  EXPECT_EQ(wrong.err, "sign: KeyStore::Login, pin incorrect\n");

  test::CommandResult missing = Cli({"sign", "--store-cert", "Nobody:01", exe});
  EXPECT_EQ(missing.exitStatus, 1);
  EXPECT_EQ(missing.err, "sign: no certificate of the store matches Nobody:01\n");

  int tty = ::open("/dev/tty", O_RDWR);
  if (tty >= 0) {
    ::close(tty);
  } else {
    // Without --pin, CORVANECODE_PIN or a terminal to ask on, the prompt is cancelled.
    test::CommandResult cancelled = Cli({"sign", "--store-cert", name_, exe}, false);
    EXPECT_EQ(cancelled.exitStatus, 1);
    EXPECT_EQ(cancelled.err, "sign: user cancel the operation\n");
  }
  EXPECT_TRUE(test::ReadFileBytes(exe) == before) << "the file is unchanged";
}

TEST_F(CliKeyStore, InstallTwicePlacesOnce) {
  std::string bundle = env_.dir() / "chain.pem";
  test::WriteFileBytes(bundle, test::ToPem(test::Authority("issuing-a2").cert.get()));
  test::CommandResult first = Cli({"install", bundle, "--yes"});
  EXPECT_EQ(first.exitStatus, 0) << first.err;
  EXPECT_NE(first.out.find("Corvane EV Code Signing CA: intermediate store ("), std::string::npos)
      << first.out;
  EXPECT_NE(first.out.find("Installed."), std::string::npos);
  test::CommandResult second = Cli({"install", bundle, "--yes"});
  EXPECT_NE(second.out.find("(already there)"), std::string::npos) << second.out;

  test::CommandResult declined = Cli({"install", bundle});  // standard input is empty: no
  EXPECT_EQ(declined.exitStatus, 1);
  EXPECT_NE(declined.out.find("Nothing installed."), std::string::npos);

  std::string junk = env_.dir() / "junk.cer";
  test::WriteFileBytes(junk, "\x01\x02\x03 random");
  test::CommandResult refused = Cli({"install", junk, "--yes"});
  EXPECT_EQ(refused.exitStatus, 1);
}

TEST_F(CliKeyStore, RequestsAreMadeOnTheToken) {
  test::CommandResult tokens = Cli({"store", "tokens"});
  EXPECT_EQ(tokens.exitStatus, 0) << tokens.err;
  EXPECT_NE(tokens.out.find("Signing\n"), std::string::npos) << tokens.out;
  EXPECT_NE(tokens.out.find("key lengths: 2048 4096\n"), std::string::npos) << tokens.out;

  std::string out = env_.dir() / "token.csr";
  test::CommandResult csr = Cli({"csr", "--key-store", "Signing", "--publisher", "Cli Request",
                                 "--unit", "Corvane Test", "--bits", "2048", "--out", out});
  EXPECT_EQ(csr.exitStatus, 0) << csr.err;
  test::CommandResult verify =
      test::RunCommand("/usr/bin/openssl", {"req", "-verify", "-noout", "-in", out});
  EXPECT_EQ(verify.exitStatus, 0) << verify.err;

  test::CommandResult subject = test::RunCommand(
      "/usr/bin/openssl", {"req", "-noout", "-subject", "-nameopt", "compat", "-in", out});
  EXPECT_EQ(subject.out, "subject=/CN=Cli Request/O=Corvane Test\n");

  test::CommandResult invalid = Cli({"csr", "--key-store", "Signing", "--out", out});
  EXPECT_EQ(invalid.exitStatus, 1);
  EXPECT_EQ(invalid.err, "Error: The subject information string is invalid\n");
  test::CommandResult keyOut =
      Cli({"csr", "--key-store", "Signing", "--key-out", "k.pem", "--out", out});
  EXPECT_EQ(keyOut.exitStatus, 2);
}

}  // namespace
}  // namespace corvane
