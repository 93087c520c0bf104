#include "tasks/cert_tool_run.h"

#include <gtest/gtest.h>

#include "fixtures/temp_dir.h"
#include "fixtures/token_signer.h"

namespace corvane {
namespace {

class InstallCertTest : public ::testing::Test {
 protected:
  std::string File(const std::string& name, const std::string& bytes) {
    std::string path = dir_ / name;
    test::WriteFileBytes(path, bytes);
    return path;
  }
  UiMessage Install(const InstallCertInput& input) {
    shown_.clear();
    confirmations_ = 0;
    return InstallCert(
        input, nullptr,
        [&](const std::vector<InstallItem>& plan) {
          ++confirmations_;
          return !plan.empty();
        },
        [&](const UiMessage& m) { shown_.push_back(m.key); });
  }

  test::TokenWorld world_;  // a scratch configuration home for the stores
  test::TempDir dir_;
  std::vector<std::string> shown_;
  int confirmations_ = 0;
};

TEST_F(InstallCertTest, RefusalsComeBeforeTheConfirmationWithTheTabsMessages) {
  const test::KeyedCert ca = test::Authority("issuing-a1");
  const std::string pfxWithPassword =
      File("with-password.pfx", test::MakePfx({"secret", {ca.cert.get()}, ca.key.get()}));
  const struct {
    const char* name;
    InstallCertInput input;
    const char* message;
  } cases[] = {
      {"nothing pasted", {true, " \r\n ", "", ""}, "UiTaskStateCertContentIsNull"},
      {"too short to be a certificate", {true, "MIIB", "", ""}, "UiTaskStateCertContentIsInvalid"},
      {"long text that is no certificate",
       {true, std::string(300, 'A'), "", ""},
       "UiTaskStateCertContentIsInvalid"},
      {"no file named", {false, "", "", ""}, "UiCertPathIsNullOrInvalid"},
      {"missing file", {false, "", dir_ / "gone.cer", ""}, "UiGloErrCertPathErr"},
      {"random bytes",
       {false, "", File("junk.cer", "\x01\x02\x03 random bytes"), ""},
       "UiCertPathIsNullOrInvalid"},
      {"a PFX that needs a password",
       {false, "", pfxWithPassword, ""},
       "UiCertPathIsNullOrInvalid"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UiMessage m = Install(c.input);
    EXPECT_EQ(m.key, c.message);
    EXPECT_FALSE(m.ok());
    EXPECT_EQ(confirmations_, 0);
  }
}

TEST_F(InstallCertTest, PastedAndFileCertificatesAreConfirmedAndTheLineEndsEmpty) {
  const std::string pem = test::ToPem(test::Authority("issuing-a1").cert.get());
  // Bare CR line ends, as some clipboards give them.
  std::string pasted = pem;
  for (char& ch : pasted)
    if (ch == '\n') ch = '\r';
  UiMessage m = Install({true, pasted, "", ""});
  EXPECT_TRUE(m.ok());
  EXPECT_EQ(m.key, "");
  EXPECT_EQ(confirmations_, 1);
  EXPECT_EQ(shown_, std::vector<std::string>{"UiCertTaskStateWait"});

  m = Install({false, "", File("ca.pem", pem), ""});
  EXPECT_TRUE(m.ok());
  EXPECT_EQ(confirmations_, 1);
  EXPECT_EQ(shown_, std::vector<std::string>{"UiCertTaskStateWait"});
}

}  // namespace
}  // namespace corvane
