#include <gtest/gtest.h>

#include <filesystem>

#include "base/language.h"
#include "cert/cert_manager.h"
#include "crypto/signed_message.h"
#include "crypto/trust_store.h"
#include "fixtures/compound_files.h"
#include "fixtures/run_command.h"
#include "fixtures/signing_environment.h"
#include "fixtures/tool_rows.h"
#include "formats/catalog/catalog_file.h"
#include "formats/msi/msi_package.h"
#include "sign/authenticode_content.h"
#include "sign/authenticode_verifier.h"
#include "sign/catalog_member.h"
#include "sign/file_sign.h"
#include "tasks/create_cat.h"

namespace corvane {
namespace {

SkinTexts Texts() {
  SkinTexts texts;
  texts.Set("UiTaskStateWait", "Waiting...");
  texts.Set("UiTaskStateComplete", "Complete");
  texts.Set("MsgTypeError", "Error:");
  texts.Set("UiStateUnknownErr", "Unknown error");
  texts.Set("MsgStateFileUnsupported", "File is not supported");
  return texts;
}

std::vector<SignTask> Rows(const std::vector<std::string>& paths) {
  std::vector<SignTask> rows;
  for (const std::string& path : paths) rows.push_back({path, "Waiting..."});
  return rows;
}

std::vector<catalog::Member> MembersOf(const std::string& path) {
  return catalog::ReadMembers(catalog::CtlOf(test::ReadFileBytes(path)));
}

class CatalogSigning : public ::testing::Test {
 protected:
  void SetUp() override {
    manager_.LoadPfx(env_.rootA().pfxPath, env_.rootA().password);
    manager_.BuildChain();
    manager_.RecognizeOwnCa();
  }
  std::string Sign(const std::string& path, bool append = false) {
    std::unique_ptr<CFileSign> signer = CreateFileSigner("catType");
    signer->SetCertManager(&manager_);
    try {
      signer->SignFile(path, path, append);
      return "succeed";
    } catch (const std::exception& e) {
      return e.what();
    }
  }
  VerifyReport Verify(const std::string& path) {
    X509StorePtr store = BuildTrustStore({env_.trustBundle()});
    return VerifyTrust(path, store.get());
  }
  int OsslVerifyMember(const std::string& catalogPath, const std::string& member,
                       std::string* log = nullptr) {
    test::CommandResult r = test::RunCommand(
        "/usr/bin/osslsigncode", {"verify", "-CAfile", env_.trustBundle(), "-TSA-CAfile",
                                  env_.tsaRoot(), "-catalog", catalogPath, "-in", member});
    if (log) *log = r.out + r.err;
    return r.exitStatus;
  }
  std::string Text(const std::string& name, const std::string& content) {
    std::string path = env_.dir() / name;
    test::WriteFileBytes(path, content);
    return path;
  }

  test::SigningEnvironment env_;
  CertManager manager_;
  SkinTexts texts_ = Texts();
};

TEST_F(CatalogSigning, MembersAreListedInOrderUnderTheirDigestsAndTypes) {
  std::string image = env_.CopyImage("console-x64.exe");
  std::string text = Text("readme.txt", "plain text member\n");
  std::string cat = env_.dir() / "product.cat";
  std::vector<SignTask> rows = Rows({image, text});
  ASSERT_EQ(test::CreateCatInto(rows, cat, texts_), cat);
  EXPECT_EQ(rows[0].state, "Complete");
  EXPECT_EQ(rows[1].state, "Complete");

  std::vector<catalog::Member> members = MembersOf(cat);
  ASSERT_EQ(members.size(), 2u);
  EXPECT_EQ(members[0].subjectType, catalog::kSubjectPeImage);
  EXPECT_EQ(members[1].subjectType, catalog::kSubjectFlatImage);
  // The text's tag is the SHA-1 of its bytes in upper-case hexadecimal.
  EXPECT_EQ(members[1].referenceTag, "5485AA75B5F9077937E960530A115A34352E90F9");
  for (const catalog::Member& m : members) {
    SCOPED_TRACE(m.referenceTag);
    EXPECT_EQ(m.referenceTag.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    EXPECT_EQ(m.referenceTag.size(), 40u);
    EXPECT_EQ(m.certVersion, 0u);
    IndirectDigest digest;
    ASSERT_TRUE(ParseIndirectData(m.indirectData, digest));
    EXPECT_EQ(digest.digestOid, "1.3.14.3.2.26");
    ASSERT_EQ(m.attributes.size(), 1u);
    EXPECT_EQ(m.attributes[0].name, "File");
    EXPECT_EQ(m.attributes[0].flags, 0x10010001u);
  }
  EXPECT_EQ(members[0].attributes[0].value, catalog::Utf16Value("1-console-x64.exe"));
  EXPECT_EQ(members[1].attributes[0].value.size(), (std::string("readme.txt").size() + 1) * 2);

  // Unsigned, the catalog is a SignedData without signers that OpenSSL reads as such.
  test::CommandResult r =
      test::RunCommand("/usr/bin/openssl", {"asn1parse", "-inform", "DER", "-in", cat});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_NE(r.out.find(":1.3.6.1.4.1.311.10.1"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(":1.3.6.1.4.1.311.12.1.1"), std::string::npos);
  EXPECT_NE(r.out.find(":1.3.6.1.4.1.311.12.1.2"), std::string::npos);
  EXPECT_FALSE(Verify(cat).signedFile);
}

TEST_F(CatalogSigning, SignedCatalogVouchesForItsPeTextAndInfMembers) {
  std::string image = env_.CopyImage("console-x64.exe");
  std::string text = Text("readme.txt", "plain text member\n");
  std::string inf = Text("driver.inf", "[Version]\r\nSignature=\"$WINDOWS NT$\"\r\n");
  std::string cabinet = env_.dir() / "bundle.cab";
  ASSERT_EQ(test::RunCommand("/usr/bin/gcab", {"-c", "-n", "-z", cabinet, text}).exitStatus, 0);
  std::string package = env_.dir() / "setup.msi";
  std::filesystem::copy_file(test::TestPackagePath(), package);
  std::string cat = env_.dir() / "driver.cat";
  std::vector<SignTask> rows = Rows({image, text, inf, cabinet, package});
  ASSERT_EQ(test::CreateCatInto(rows, cat, texts_), cat);
  ASSERT_EQ(Sign(cat), "succeed");

  VerifyReport report = Verify(cat);
  EXPECT_TRUE(report.trusted) << (report.primary.problems.empty() ? ""
                                                                  : report.primary.problems[0]);
  EXPECT_TRUE(report.primary.timestamped);
  EXPECT_EQ(report.primary.digestAlgorithm, "sha256");
  std::vector<catalog::Member> members = MembersOf(cat);
  ASSERT_EQ(members.size(), 5u) << "signing keeps the trust list as it was";
  EXPECT_EQ(members[3].subjectType, catalog::kSubjectCabinet);
  EXPECT_EQ(members[4].subjectType, catalog::kSubjectInstallerPackage);
  // osslsigncode's catalog mode does not look packages up (it refuses its own catalogs too);
  // the package digest itself is checked against osslsigncode's signatures elsewhere.
  EXPECT_EQ(members[4].referenceTag, ReferenceTag(msi::AuthenticodeDigest(package, EVP_sha1())));

  std::string log;
  EXPECT_EQ(env_.OsslVerify(cat, &log), 0) << log;
  EXPECT_EQ(OsslVerifyMember(cat, image, &log), 0) << log;
  EXPECT_EQ(OsslVerifyMember(cat, cabinet, &log), 0) << log;
  // osslsigncode reads member files only in the formats it knows; an unsigned script is
  // digested over its bytes, as the flat subject is, so the same bytes under a script name
  // stand for the text and the INF.
  for (const std::string& flat : {text, inf}) {
    std::string asScript = flat + ".ps1";
    std::filesystem::copy_file(flat, asScript);
    EXPECT_EQ(OsslVerifyMember(cat, asScript, &log), 0) << flat << "\n" << log;
  }
  std::string stranger = Text("stranger.ps1", "not a member\n");
  EXPECT_NE(OsslVerifyMember(cat, stranger, &log), 0) << log;

  test::CommandResult r = test::RunCommand(
      "/usr/bin/openssl", {"pkcs7", "-inform", "DER", "-in", cat, "-print_certs", "-noout"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_NE(r.out.find("Corvane Test Publisher"), std::string::npos) << r.out;
}

TEST_F(CatalogSigning, AppendedAndRfc3161SignaturesVerifyAndATamperedCatalogDoesNot) {
  std::string image = env_.CopyImage("library-x64.dll");
  std::string cat = env_.dir() / "nested.cat";
  std::vector<SignTask> rows = Rows({image});
  ASSERT_EQ(test::CreateCatInto(rows, cat, texts_), cat);
  ASSERT_EQ(Sign(cat, /*append=*/true), "succeed") << "an unsigned catalog gets a plain signature";
  const std::string primary = SignedMessage::Decode(test::ReadFileBytes(cat)).EncryptedDigest();
  ASSERT_EQ(Sign(cat, true), "succeed");
  ASSERT_EQ(Sign(cat, true), "succeed");

  SignedMessage message = SignedMessage::Decode(test::ReadFileBytes(cat));
  EXPECT_EQ(message.EncryptedDigest(), primary) << "the primary signature stays";
  std::vector<std::string> nested;
  for (const MessageAttribute& a : message.UnauthenticatedAttributes())
    if (a.oid == kOidNestedSignature) nested = a.values;
  EXPECT_EQ(nested.size(), 2u);
  VerifyReport report = Verify(cat);
  EXPECT_TRUE(report.trusted);
  ASSERT_EQ(report.nested.size(), 2u);
  EXPECT_TRUE(report.nested[0].valid && report.nested[1].valid);
  EXPECT_TRUE(report.nested[1].timestamped);
  std::string log;
  EXPECT_EQ(env_.OsslVerify(cat, &log), 0) << log;
  EXPECT_EQ(OsslVerifyMember(cat, image, &log), 0) << log;

  std::string rfc = env_.dir() / "rfc.cat";
  std::filesystem::copy_file(cat, rfc);
  {
    std::unique_ptr<CFileSign> signer = CreateFileSigner("catType");
    signer->SetCertManager(&manager_);
    signer->SetTimestampProtocol(TimestampProtocol::Rfc3161);
    signer->SignFile(rfc, rfc, false);
  }
  report = Verify(rfc);
  EXPECT_TRUE(report.trusted);
  EXPECT_TRUE(report.primary.rfc3161);
  EXPECT_TRUE(report.nested.empty()) << "a replacing signature drops the nested ones";
  EXPECT_EQ(env_.OsslVerify(rfc, &log), 0) << log;
  EXPECT_EQ(OsslVerifyMember(rfc, image, &log), 0) << log;

  // One byte of a member's tag changed inside the signed trust list. (A catalog with nested
  // signatures carries one copy of the list per signature; osslsigncode accepts it while any
  // of them verifies, so the single-signature catalog is tampered with.)
  std::string bytes = test::ReadFileBytes(rfc);
  std::string tag = catalog::Utf16Value(MembersOf(rfc)[0].referenceTag);
  std::size_t at = bytes.find(tag);
  ASSERT_NE(at, std::string::npos);
  bytes[at] = bytes[at] == 'A' ? 'B' : 'A';
  std::string tampered = env_.dir() / "tampered.cat";
  test::WriteFileBytes(tampered, bytes);
  report = Verify(tampered);
  EXPECT_FALSE(report.trusted);
  EXPECT_FALSE(report.primary.problems.empty());
  EXPECT_NE(env_.OsslVerify(tampered, &log), 0) << log;
  EXPECT_NE(OsslVerifyMember(tampered, image, &log), 0) << log;
}

TEST_F(CatalogSigning, AFailedSigningLeavesTheCatalogAsItWas) {
  std::string text = Text("a.txt", "a");
  std::string cat = env_.dir() / "kept.cat";
  std::vector<SignTask> rows = Rows({text});
  ASSERT_EQ(test::CreateCatInto(rows, cat, texts_), cat);
  std::string before = test::ReadFileBytes(cat);
  CertManager empty;
  std::unique_ptr<CFileSign> signer = CreateFileSigner("catType");
  signer->SetCertManager(&empty);
  EXPECT_THROW(signer->SignFile(cat, cat, false), std::exception);
  EXPECT_EQ(test::ReadFileBytes(cat), before);

  // Not a catalog, a catalog cut short, and a signed message whose content is not a trust list.
  test::CommandResult cms = test::RunCommand(
      "/usr/bin/openssl", {"cms", "-sign", "-binary", "-nodetach", "-outform", "DER", "-signer",
                           std::string(CORVANE_AUTHORITY_DIR) + "/issuing-a1.pem", "-inkey",
                           std::string(CORVANE_AUTHORITY_DIR) + "/issuing-a1.key", "-in", text,
                           "-out", env_.dir() / "cms.cat"});
  ASSERT_EQ(cms.exitStatus, 0) << cms.err;
  for (const std::string& bad :
       {Text("fake.cat", "not a catalog"), Text("cut.cat", before.substr(0, before.size() - 9)),
        env_.dir() / "cms.cat"}) {
    SCOPED_TRACE(bad);
    std::string content = test::ReadFileBytes(bad);
    EXPECT_EQ(Sign(bad), "file type is not supported");
    EXPECT_EQ(test::ReadFileBytes(bad), content);
    EXPECT_FALSE(Verify(bad).trusted);
  }
}

}  // namespace
}  // namespace corvane
