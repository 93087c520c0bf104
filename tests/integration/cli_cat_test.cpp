#include <gtest/gtest.h>

#include <filesystem>

#include "crypto/der.h"
#include "crypto/trust_store.h"
#include "fixtures/run_command.h"
#include "fixtures/signing_environment.h"
#include "formats/catalog/catalog_file.h"
#include "sign/authenticode_verifier.h"

namespace corvane {
namespace {

class CliCat : public ::testing::Test {
 protected:
  test::CommandResult Cli(std::vector<std::string> args) { return env_.Cli(args); }
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

TEST_F(CliCat, CreatesSignsAndReportsEachFile) {
  std::string exe = env_.CopyImage("console-x64.exe");
  std::string inf = File("driver.inf", "[Version]\r\nSignature=\"$WINDOWS NT$\"\r\n");
  std::string cat = env_.dir() / "driver.cat";
  test::CommandResult r = Cli({"cat", "--out", cat, exe, inf});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, exe + ": Complete\n" + inf + ": Complete\n");
  EXPECT_NE(test::ReadFileBytes(inf).find("CatalogFile=driver.cat\r\n"), std::string::npos);
  EXPECT_FALSE(Trusted(cat)) << "not signed without --sign";

  // "Create and Sign", and the sign command taking the catalog through the same loop.
  r = Cli({"cat", "--out", cat, "--sign", "--pfx", env_.rootA().pfxPath, exe, inf});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, exe + ": Complete\n" + inf + ": Complete\n" + cat + ": Complete\n");
  EXPECT_TRUE(Trusted(cat));
  r = Cli({"sign", "--pfx", env_.rootB().pfxPath, "--append", cat});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, cat + ": Complete\n");
  r = Cli({"verify", "--trust", env_.trustBundle(), cat});
  EXPECT_EQ(r.exitStatus, 0) << r.out;
  EXPECT_NE(r.out.find("nested signature 1: valid"), std::string::npos) << r.out;
}

// Members listed by SHA-256 digests (a version 2 catalog) or by SHA-1 ones, each accepted by
// an independent verifier for its PE member.
TEST_F(CliCat, Sha256CatalogsListTheirMembersBySha256) {
  std::string exe = env_.CopyImage("console-x64.exe");
  std::string text = File("readme.txt", "plain text member\n");
  for (bool sha256 : {false, true}) {
    SCOPED_TRACE(sha256 ? "SHA-256" : "SHA-1");
    std::string cat = env_.dir() / (sha256 ? "v2.cat" : "v1.cat");
    std::vector<std::string> args{"cat", "--out", cat, "--sign", "--pfx", env_.rootA().pfxPath};
    if (sha256) args.insert(args.begin() + 1, "--sha256");
    args.insert(args.end(), {exe, text});
    test::CommandResult r = Cli(args);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const std::vector<catalog::Member> members =
        catalog::ReadMembers(catalog::CtlOf(test::ReadFileBytes(cat)));
    ASSERT_EQ(members.size(), 2u);
    for (const catalog::Member& member : members)
      EXPECT_EQ(member.referenceTag.size(), sha256 ? 64u : 40u) << member.referenceTag;
    const std::string ctl = catalog::CtlOf(test::ReadFileBytes(cat));
    const std::string member2 = der::Encode(der::Oid(catalog::kOidCatalogListMember2));
    EXPECT_EQ(ctl.find(member2) != std::string::npos, sha256);
    test::CommandResult ossl = test::RunCommand(
        "/usr/bin/osslsigncode", {"verify", "-CAfile", env_.trustBundle(), "-TSA-CAfile",
                                  env_.tsaRoot(), "-catalog", cat, "-in", exe});
    EXPECT_EQ(ossl.exitStatus, 0) << ossl.out << ossl.err;
  }
  EXPECT_EQ(Cli({"cab", "--sha256", "--out", env_.dir() / "x.cab", text}).exitStatus, 2)
      << "a cabinet has no members to list";
}

TEST_F(CliCat, AFailingFileEndsTheRunWithoutACatalog) {
  std::string first = File("first.txt", "first");
  std::string empty = File("empty.txt", "");
  std::string third = File("third.txt", "third");
  std::string cat = env_.dir() / "none.cat";
  test::CommandResult r =
      Cli({"cat", "--out", cat, "--sign", "--pfx", env_.rootA().pfxPath, first, empty, third});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out, first + ": Complete\n" + empty +
                       ": Error:Unknown error, please send feedback, we will fix it as soon as "
                       "possible!\n" +
                       third + ": Waiting...\n");
  EXPECT_FALSE(std::filesystem::exists(cat));

  EXPECT_EQ(Cli({"cat", first}).exitStatus, 2) << "--out is required";
  EXPECT_EQ(Cli({"cat", "--out", cat, "--pfx", "x.pfx", first}).exitStatus, 2)
      << "sign options need --sign";
  r = Cli({"cat", "--out", cat});
  EXPECT_EQ(r.exitStatus, 2);
  EXPECT_EQ(r.err, "Error: Please add files\n");
}

}  // namespace
}  // namespace corvane
