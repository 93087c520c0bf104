#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "cert/cert_manager.h"
#include "crypto/signed_message.h"
#include "crypto/trust_store.h"
#include "crypto/x509_names.h"
#include "fixtures/scoped_env.h"
#include "fixtures/signing_environment.h"
#include "formats/pe/pe_image.h"
#include "sign/authenticode_verifier.h"
#include "sign/file_sign.h"
#include "sign/timestamp_client.h"

namespace corvane {
namespace {

class PeSigning : public ::testing::Test {
 protected:
  void Load(const test::TestSigner& signer) {
    manager_.LoadPfx(signer.pfxPath, signer.password);
    manager_.BuildChain();
    manager_.RecognizeOwnCa();
  }
  std::string Sign(const std::string& path, bool append = false, bool kernel = false,
                   const std::string& cross = "") {
    std::unique_ptr<CFileSign> signer = CreateFileSigner("peType");
    signer->SetKernelMode(kernel);
    if (!cross.empty()) signer->SetCrossCertFile(cross);
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

  test::SigningEnvironment env_;
  CertManager manager_;
};

TEST_F(PeSigning, EveryImageKindSignsTimestampedAndBothVerifiersAgree) {
  Load(env_.rootA());
  for (const char* image : {"console-x64.exe", "console-x86.exe", "library-x64.dll",
                            "library-x86.dll", "driver-x64.sys", "app-x64.efi"}) {
    SCOPED_TRACE(image);
    std::string path = env_.CopyImage(image);
    ASSERT_EQ(Sign(path), "succeed");
    VerifyReport report = Verify(path);
    EXPECT_TRUE(report.trusted) << (report.primary.problems.empty() ? ""
                                                                    : report.primary.problems[0]);
    EXPECT_TRUE(report.primary.timestamped);
    EXPECT_EQ(report.primary.digestAlgorithm, "sha256");
    std::string log;
    EXPECT_EQ(env_.OsslVerify(path, &log), 0) << log;
    EXPECT_EQ(pe::ComputeChecksum(path), pe::ReadLayout(path).checksum);
  }
}

}  // namespace
}  // namespace corvane

namespace corvane {
namespace {

std::vector<std::string> NestedValues(const std::string& path) {
  for (const MessageAttribute& a :
       SignedMessage::Decode(pe::ReadSignature(path)).UnauthenticatedAttributes())
    if (a.oid == kOidNestedSignature) return a.values;
  return {};
}

TEST_F(PeSigning, HashFollowsTheCertificateAndRfc3161IsAnOption) {
  Load(env_.sha1());
  std::string sha1 = env_.CopyImage("console-x64.exe");
  ASSERT_EQ(Sign(sha1), "succeed");
  EXPECT_EQ(Verify(sha1).primary.digestAlgorithm, "sha1");
  EXPECT_EQ(env_.OsslVerify(sha1), 0);

  Load(env_.rootB());
  std::string rfc = env_.CopyImage("library-x64.dll");
  std::unique_ptr<CFileSign> signer = CreateFileSigner("peType");
  signer->SetCertManager(&manager_);
  signer->SetTimestampProtocol(TimestampProtocol::Rfc3161);
  signer->SignFile(rfc, rfc, false);
  VerifyReport report = Verify(rfc);
  EXPECT_TRUE(report.trusted);
  EXPECT_TRUE(report.primary.rfc3161);
  std::string log;
  EXPECT_EQ(env_.OsslVerify(rfc, &log), 0) << log;
}

TEST_F(PeSigning, AppendingNestsNewSignaturesOlderFirst) {
  std::string path = env_.CopyImage("console-x86.exe");
  Load(env_.sha1());
  ASSERT_EQ(Sign(path, /*append=*/true), "succeed")
      << "an unsigned file gets an ordinary signature";
  std::string primary = pe::ReadSignature(path);
  EXPECT_TRUE(NestedValues(path).empty());
  Load(env_.rootA());
  ASSERT_EQ(Sign(path, true), "succeed");
  std::vector<std::string> once = NestedValues(path);
  ASSERT_EQ(once.size(), 1u);
  Load(env_.rootB());
  ASSERT_EQ(Sign(path, true), "succeed");
  std::vector<std::string> twice = NestedValues(path);
  ASSERT_EQ(twice.size(), 2u);
  EXPECT_EQ(twice[0], once[0]);
  EXPECT_EQ(pe::ReadCertificates(path).size(), 1u);

  VerifyReport report = Verify(path);
  EXPECT_TRUE(report.trusted);
  EXPECT_EQ(report.primary.digestAlgorithm, "sha1");
  ASSERT_EQ(report.nested.size(), 2u);
  for (const SignatureReport& nested : report.nested) {
    EXPECT_TRUE(nested.valid);
    EXPECT_EQ(nested.digestAlgorithm, "sha256");
    EXPECT_TRUE(nested.timestamped);
  }
  std::string log;
  EXPECT_EQ(env_.OsslVerify(path, &log), 0) << log;
  EXPECT_NE(log.find("Number of verified signatures: 3"), std::string::npos) << log;

  // Without append the nested signatures go.
  ASSERT_EQ(Sign(path, false), "succeed");
  EXPECT_TRUE(NestedValues(path).empty());
}

std::vector<std::string> CertificateSubjects(const std::string& path) {
  std::vector<std::string> names;
  for (const std::string& der : SignedMessage::Decode(pe::ReadSignature(path)).Certificates()) {
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    names.push_back(SubjectDisplayName(cert.get()) + " <- " + IssuerDisplayName(cert.get()));
  }
  return names;
}

TEST_F(PeSigning, KernelModeCarriesTheRightCrossCertificates) {
  struct Case {
    const char* name;
    const test::TestSigner* signer;
    std::string crossCert;
    std::vector<std::string> certificates;
  } cases[] = {
      {"root A",
       &env_.rootA(),
       "",
       {"Corvane Test Publisher <- Corvane Code Signing CA",
        "Certification Authority of Corvane <- Northgate Trust Root CA",
        "Corvane Code Signing CA <- Certification Authority of Corvane",
        "Certification Authority of Corvane <- Certification Authority of Corvane",
        "Northgate Trust Root CA <- Microsoft Code Verification Root",
        "Certification Authority of Corvane <- Microsoft Code Verification Root"}},
      {"root B",
       &env_.rootB(),
       "",
       {"Corvane Test Publisher <- Corvane Code Signing CA G2",
        "CA 柯文根证书 <- Northgate Trust Root CA", "Corvane Code Signing CA G2 <- CA 柯文根证书",
        "CA 柯文根证书 <- CA 柯文根证书",
        "Northgate Trust Root CA <- Microsoft Code Verification Root",
        "CA 柯文根证书 <- Microsoft Code Verification Root"}},
      {"foreign with its cross-certificate",
       &env_.foreign(),
       env_.foreignCrossCert(),
       {"Foreign Publisher <- Foreign Code Signing CA",
        "Foreign Code Signing CA <- Foreign Test Root", "Foreign Test Root <- Foreign Test Root",
        "Foreign Test Root <- Microsoft Code Verification Root"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Load(*c.signer);
    std::string path = env_.CopyImage("driver-x64.sys");
    ASSERT_EQ(Sign(path, false, true, c.crossCert), "succeed");
    // The TSA's certificates come with the timestamp, right after the signer's.
    std::vector<std::string> subjects;
    for (const std::string& subject : CertificateSubjects(path))
      if (subject.find("Test TSA") == std::string::npos) subjects.push_back(subject);
    EXPECT_EQ(subjects, c.certificates);
    std::string log;
    EXPECT_EQ(env_.OsslVerify(path, &log), 0) << log;
  }
}

TEST_F(PeSigning, RefusedFilesAndFailedSigningsLeaveTheFileAsItWas) {
  Load(env_.rootA());
  std::string signedPath = env_.CopyImage("console-x64.exe");
  ASSERT_EQ(Sign(signedPath), "succeed");

  std::string tampered = env_.CopyImage("console-x64.exe", "tampered.exe");
  ASSERT_EQ(Sign(tampered), "succeed");
  {
    std::string bytes = test::ReadFileBytes(tampered);
    bytes[0x400] ^= 0x01;
    test::WriteFileBytes(tampered, bytes);
  }
  std::string unsignedPath = env_.CopyImage("console-x64.exe", "unsigned.exe");
  EXPECT_FALSE(Verify(unsignedPath).trusted);
  EXPECT_FALSE(Verify(tampered).trusted);
  EXPECT_NE(env_.OsslVerify(tampered), 0);
  X509StorePtr otherRoots = BuildTrustStore({env_.tsaRoot()});
  EXPECT_FALSE(VerifyTrust(signedPath, otherRoots.get()).trusted) << "root not trusted";

  // A file that is no PE image, and a truncated image: refused, untouched.
  std::string text = env_.dir() / "notes.exe";
  test::WriteFileBytes(text, "just text, not an image");
  std::string truncated = env_.dir() / "truncated.exe";
  test::WriteFileBytes(truncated, test::ReadFileBytes(unsignedPath).substr(0, 700));
  for (const std::string& path : {text, truncated}) {
    std::string before = test::ReadFileBytes(path);
    EXPECT_EQ(Sign(path), "file type is not supported");
    EXPECT_EQ(test::ReadFileBytes(path), before);
  }
  EXPECT_EQ(Sign(env_.dir() / "absent.exe"), "invalid path");
  std::vector<std::string> leftovers;
  for (const auto& entry : std::filesystem::directory_iterator(env_.dir().path()))
    if (entry.path().filename().string().find(".signing-") != std::string::npos)
      leftovers.push_back(entry.path());
  EXPECT_TRUE(leftovers.empty());
}

TEST_F(PeSigning, TimestampServerDownStillSignsAndWarns) {
  Load(env_.rootA());
  std::string path = env_.CopyImage("library-x86.dll");
  for (auto mode : {test::TimestampServer::Mode::Error500, test::TimestampServer::Mode::Garbage,
                    test::TimestampServer::Mode::WrongDigest}) {
    env_.server().SetMode(mode);
    EXPECT_EQ(Sign(path), "sign succeed, timestamp failed");
    VerifyReport report = Verify(path);
    EXPECT_TRUE(report.trusted);
    EXPECT_FALSE(report.primary.timestamped);
  }
  EXPECT_EQ(env_.OsslVerify(path), 0);
}

TEST_F(PeSigning, ReadOnlySourceIsSignedAndKeepsItsOtherModeBits) {
  Load(env_.rootA());
  std::string path = env_.CopyImage("console-x64.exe");
  std::filesystem::permissions(
      path, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                std::filesystem::perms::others_exec | std::filesystem::perms::owner_exec);
  ASSERT_EQ(Sign(path), "succeed");
  auto perms = std::filesystem::status(path).permissions();
  using std::filesystem::perms;
  EXPECT_EQ(perms, perms::owner_read | perms::owner_write | perms::owner_exec | perms::group_read |
                       perms::others_exec);
}

}  // namespace
}  // namespace corvane

namespace corvane {
namespace {

TEST_F(PeSigning, ATimestampKeepsTheSignatureGoodAfterTheCertificateExpires) {
  test::KeyedCert ca = test::Authority("issuing-a1");
  test::KeyedCert rootA = test::Authority("root-a");
  test::CertSpec shortLived;
  shortLived.notAfterSeconds = 2;
  test::KeyedCert leaf = test::Issue(shortLived, &ca);
  std::string pfx = env_.dir() / "short.pfx";
  test::WriteFileBytes(
      pfx,
      test::MakePfx({"pw", {leaf.cert.get(), ca.cert.get(), rootA.cert.get()}, leaf.key.get()}));
  manager_.LoadPfx(pfx, "pw");
  manager_.BuildChain();
  manager_.RecognizeOwnCa();
  std::string stamped = env_.CopyImage("console-x64.exe");
  ASSERT_EQ(Sign(stamped), "succeed");
  env_.server().SetMode(test::TimestampServer::Mode::Error500);
  // The answer 500 is asked again after a pause; none here, so the short life is not used up.
  test::ScopedEnv noPause(kTimestampRetryDelayVariable, "0");
  std::string bare = env_.CopyImage("console-x64.exe");
  ASSERT_EQ(Sign(bare), "sign succeed, timestamp failed");
  EXPECT_TRUE(Verify(stamped).trusted);
  EXPECT_TRUE(Verify(bare).trusted);
  std::this_thread::sleep_for(std::chrono::milliseconds(3100));
  EXPECT_TRUE(Verify(stamped).trusted);
  VerifyReport expired = Verify(bare);
  EXPECT_FALSE(expired.trusted);
  ASSERT_FALSE(expired.primary.problems.empty());
  EXPECT_NE(expired.primary.problems[0].find("expired"), std::string::npos)
      << expired.primary.problems[0];
}

}  // namespace
}  // namespace corvane
