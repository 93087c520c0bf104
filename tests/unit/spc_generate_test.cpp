#include "certtool/spc_generate.h"

#include <gtest/gtest.h>

#include "fixtures/run_command.h"
#include "fixtures/temp_dir.h"
#include "fixtures/test_pki.h"

namespace corvane {
namespace {

// The save dialog answering `path`.
ChooseSavePath SaveAs(std::string path) {
  return [path] { return std::optional<std::string>(path); };
}

class GenerateSpcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = test::Authority("root-a");
    ca_ = test::Authority("issuing-a1");
    user_ = test::Issue(test::CertSpec{}, &ca_);
    Write("root.pem", test::ToPem(root_.cert.get()));
    Write("ca.der", test::ToDer(ca_.cert.get()));
    Write("ca copy.pem", test::ToPem(ca_.cert.get()));
    Write("user.pem", test::ToPem(user_.cert.get()));
    Write("R&D root.pem", test::ToPem(root_.cert.get()));
    Write("junk.pem", "junk");
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    test::WriteFileBytes(dir_ / name, bytes);
    return dir_ / name;
  }
  SpcGenerateInput Input(std::array<std::string, 3> uppers) {
    SpcGenerateInput in;
    in.userFile = dir_ / "user.pem";
    for (std::size_t i = 0; i < 3; ++i)
      if (!uppers[i].empty()) in.upperFiles[i] = dir_ / uppers[i];
    in.chooseDestination = SaveAs(dir_ / "out.spc");
    return in;
  }
  // The subjects' common names of the SPC, in file order, as openssl reads them.
  std::string ChainNames() {
    test::CommandResult r = test::RunCommand(
        "/usr/bin/openssl", {"pkcs7", "-in", dir_ / "out.spc", "-print_certs", "-noout"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    std::string names;
    for (std::size_t at = 0; (at = r.out.find("subject=", at)) != std::string::npos;) {
      std::size_t cn = r.out.find("CN = ", at) + 5;
      std::size_t end = r.out.find('\n', cn);
      names += r.out.substr(cn, end - cn) + ";";
      at = end;
    }
    return names;
  }
  test::TempDir dir_;
  test::KeyedCert root_, ca_, user_;
};

TEST_F(GenerateSpcTest, KeepsTheUpperOrderAndDropsRepeatedSerials) {
  const std::string root = "Certification Authority of Corvane;";
  const std::string ca = "Corvane Code Signing CA;";
  const std::string user = "Test Code Signer;";
  struct Case {
    std::array<std::string, 3> uppers;
    std::string chain;
  } cases[] = {
      {{"", "", ""}, user},
      {{"ca.der", "", "root.pem"}, ca + root + user},  // upper 1, upper 3, user
      {{"ca.der", "ca copy.pem", "user.pem"}, ca + user},
      {{"ca.der", "ca.der", "ca copy.pem"}, ca + user},
      {{"", "user.pem", "R&D root.pem"}, root + user},  // a path may hold "&"
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chain);
    UiMessage m = GenerateSpc(Input(c.uppers));
    EXPECT_EQ(m.key, "UiGenerateCertChainSuccess");
    EXPECT_TRUE(m.ok());
    EXPECT_EQ(ChainNames(), c.chain);
  }
}

TEST_F(GenerateSpcTest, IsPkcs7PemEndingInOneZeroByte) {
  SpcGenerateInput in = Input({"ca.der", "", ""});
  in.pasteMode = true;
  in.userFile = "";
  in.userText = "\r\n " + test::ToPem(user_.cert.get()) + "\n";
  std::vector<std::string> progress;
  EXPECT_EQ(GenerateSpc(in, [&](const UiMessage& m) { progress.push_back(m.key); }).key,
            "UiGenerateCertChainSuccess");
  EXPECT_EQ(progress, std::vector<std::string>{"UiCertTaskStateWait"});
  std::string file = test::ReadFileBytes(dir_ / "out.spc");
  EXPECT_EQ(file.rfind("-----BEGIN PKCS7-----\n", 0), 0u);
  const std::string end = "-----END PKCS7-----\n";
  ASSERT_GT(file.size(), end.size() + 1);
  EXPECT_EQ(file.substr(file.size() - end.size() - 1), end + std::string(1, '\0'));
  EXPECT_EQ(ChainNames(), "Corvane Code Signing CA;Test Code Signer;");
}

TEST_F(GenerateSpcTest, ReportsEachFailureAndLeavesTheOutputAlone) {
  struct Case {
    const char* name;
    std::function<void(SpcGenerateInput&)> change;
    const char* key;
  } cases[] = {
      {"pasted text empty", [](auto& in) { in.pasteMode = true, in.userText = " \r\n"; },
       "UiTaskStateUserCertContentIsNull"},
      {"pasted junk", [](auto& in) { in.pasteMode = true, in.userText = "junk"; },
       "UiTaskStateUserCertContentIsInvalid"},
      {"no user file", [](auto& in) { in.userFile = ""; }, "UiUserCertPathIsNullOrInvalid"},
      {"user file missing", [this](auto& in) { in.userFile = dir_ / "missing.pem"; },
       "UiGloErrUserCertPathErr"},
      {"user file junk", [this](auto& in) { in.userFile = dir_ / "junk.pem"; },
       "UiUserCertPathIsNullOrInvalid"},
      {"upper 2 missing", [this](auto& in) { in.upperFiles[1] = dir_ / "missing.pem"; },
       "UiGloErrUp2CertPathErr"},
      {"upper 1 junk", [this](auto& in) { in.upperFiles[0] = dir_ / "junk.pem"; },
       "UiTaskStateUpperCert1ContentIsInvalid"},
      {"upper 3 junk", [this](auto& in) { in.upperFiles[2] = dir_ / "junk.pem"; },
       "UiTaskStateUpperCert3ContentIsInvalid"},
      {"output cannot be written",
       [](auto& in) { in.chooseDestination = SaveAs("/nonexistent-dir/out.spc"); },
       "UiGenerateCertChainFailed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::WriteFileBytes(dir_ / "out.spc", "the user's old file");
    SpcGenerateInput in = Input({"ca.der", "", ""});
    c.change(in);
    UiMessage m = GenerateSpc(in);
    EXPECT_EQ(m.key, c.key);
    EXPECT_FALSE(m.ok());
    EXPECT_EQ(test::ReadFileBytes(dir_ / "out.spc"), "the user's old file");
  }
  SpcGenerateInput in = Input({"", "", ""});
  in.chooseDestination = [] { return std::optional<std::string>(); };
  EXPECT_EQ(GenerateSpc(in).key, "");
}

}  // namespace
}  // namespace corvane
