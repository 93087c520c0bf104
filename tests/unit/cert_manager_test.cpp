#include "cert/cert_manager.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "base/status.h"
#include "cert/cert_checks.h"
#include "crypto/x509_names.h"
#include "fixtures/temp_dir.h"
#include "fixtures/test_pki.h"

namespace corvane {
namespace {

using test::Authority;
using test::CertSpec;
using test::Issue;
using test::KeyedCert;
using test::MakePfx;
using test::PfxSpec;

void ExpectUndefined(const std::function<void()>& action) {
  try {
    action();
    ADD_FAILURE() << "nothing raised";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "undefined");
  }
}

class CertManagerTest : public ::testing::Test {
 protected:
  std::string WritePfx(const std::string& name, const PfxSpec& spec) {
    std::string path = dir_ / name;
    test::WriteFileBytes(path, MakePfx(spec));
    return path;
  }

  test::TempDir dir_;
};

TEST_F(CertManagerTest, ModernAndLegacyFilesYieldTheKeyedCertificateAfterKeylessCas) {
  KeyedCert root = test::NewRoot("Test Root");
  CertSpec caSpec;
  caSpec.commonName = "Test Issuing CA";
  caSpec.basicConstraints = test::BasicConstraints::Ca;
  KeyedCert ca = Issue(caSpec, &root);
  KeyedCert leaf = Issue(CertSpec{}, &ca);
  for (bool legacy : {false, true}) {
    SCOPED_TRACE(legacy ? "legacy" : "modern");
    std::string path = WritePfx(
        legacy ? "legacy.pfx" : "modern.pfx",
        {"pässword", {root.cert.get(), ca.cert.get(), leaf.cert.get()}, leaf.key.get(), legacy});
    EXPECT_TRUE(CertManager::CheckPfxPassword(path, "pässword"));
    EXPECT_FALSE(CertManager::CheckPfxPassword(path, "wrong"));
    CertManager manager;
    manager.LoadPfx(path, "pässword");
    EXPECT_EQ(X509_cmp(manager.certificate(), leaf.cert.get()), 0);
    CertIdentity id = manager.GetIdentity();
    EXPECT_EQ(id.subjectName, "Test Code Signer");
    EXPECT_EQ(id.issuerName, "Test Issuing CA");
    EXPECT_EQ(id.serialHex, SerialHex(leaf.cert.get()));
    manager.BuildChain();
    ASSERT_EQ(manager.chain().size(), 2u);
    EXPECT_EQ(manager.chain()[0].subjectName, "Test Issuing CA");
    EXPECT_EQ(manager.chain()[1].subjectName, "Test Root");
  }
}

TEST_F(CertManagerTest, RefusedFilesRaiseUndefinedAndLeaveNoCertificate) {
  KeyedCert leaf = Issue(CertSpec{}, nullptr);
  std::string keyless = WritePfx("keyless.pfx", {"pw", {leaf.cert.get()}, nullptr});
  std::string good = WritePfx("good.pfx", {"pw", {leaf.cert.get()}, leaf.key.get()});
  std::string garbage = dir_ / "garbage.pfx";
  test::WriteFileBytes(garbage, "this is not a PFX file");
  KeyedCert other = Issue(CertSpec{}, nullptr);
  std::string mismatched = WritePfx("mismatch.pfx", {"pw", {leaf.cert.get()}, other.key.get()});

  struct Case {
    const char* name;
    std::string path;
    const char* password;
  } cases[] = {{"no key", keyless, "pw"},
               {"wrong password", good, "pw2"},
               {"not a pfx", garbage, "pw"},
               {"missing file", dir_ / "absent.pfx", "pw"},
               {"key of another certificate", mismatched, "pw"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CertManager manager;
    manager.LoadPfx(good, "pw");
    ExpectUndefined([&] { manager.LoadPfx(c.path, c.password); });
    EXPECT_EQ(manager.certificate(), nullptr);
  }
}

TEST_F(CertManagerTest, EmptyPasswordOpensAFileMadeWithoutOne) {
  KeyedCert leaf = Issue(CertSpec{}, nullptr);
  std::string path = WritePfx("empty.pfx", {"", {leaf.cert.get()}, leaf.key.get()});
  CertManager manager;
  manager.LoadPfx(path, "");
  EXPECT_NE(manager.certificate(), nullptr);
  EXPECT_FALSE(CertManager::CheckPfxPassword(path, "x"));
}

TEST_F(CertManagerTest, ChecksFindTheCertificateAgainAtItsSource) {
  struct Case {
    const char* name;
    CertSpec spec;
    bool expired;
    bool codeSigning;
  };
  CertSpec expired;
  expired.notBeforeSeconds = -2 * 86400;
  expired.notAfterSeconds = -60;
  CertSpec notYetValid;
  notYetValid.notBeforeSeconds = 86400;
  CertSpec noEku;
  noEku.extendedKeyUsage = false;
  CertSpec clientAuth;
  clientAuth.codeSigningUsage = false;
  const Case cases[] = {{"valid", CertSpec{}, false, true},
                        {"expired", expired, true, true},
                        {"not yet valid", notYetValid, false, true},
                        {"no EKU", noEku, false, false},
                        {"client auth only", clientAuth, false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KeyedCert leaf = Issue(c.spec, nullptr);
    std::string path = WritePfx("check.pfx", {"pw", {leaf.cert.get()}, leaf.key.get()});
    CertManager manager;
    manager.LoadPfx(path, "pw");
    EXPECT_EQ(manager.IsExpired(), c.expired);
    EXPECT_EQ(manager.IsCodeSigning(), c.codeSigning);
    std::filesystem::remove(path);
    ExpectUndefined([&] { manager.IsExpired(); });
  }
}

TEST_F(CertManagerTest, ChecksSeeAFileReplacedSinceItWasLoaded) {
  KeyedCert valid = Issue(CertSpec{}, nullptr);
  CertSpec expiredSpec;
  expiredSpec.notBeforeSeconds = -2 * 86400;
  expiredSpec.notAfterSeconds = -60;
  KeyedCert expired = Issue(expiredSpec, nullptr);
  std::string path = WritePfx("replaced.pfx", {"pw", {valid.cert.get()}, valid.key.get()});
  CertManager manager;
  manager.LoadPfx(path, "pw");
  EXPECT_FALSE(manager.IsExpired());
  EXPECT_FALSE(manager.IsExpired()) << "asked again of the unchanged file";
  WritePfx("replaced.pfx", {"pw", {expired.cert.get()}, expired.key.get()});
  EXPECT_TRUE(manager.IsExpired());
  WritePfx("replaced.pfx", {"other", {valid.cert.get()}, valid.key.get()});
  ExpectUndefined([&] { manager.IsExpired(); });
}

TEST(CertChecks, EndOfValidityIsInclusiveToTheSecond) {
  std::time_t end = 1800000000;
  ASN1_TIME* t = ASN1_TIME_set(nullptr, end);
  EXPECT_FALSE(IsPastNotAfter(t, end));
  EXPECT_FALSE(IsPastNotAfter(t, end - 1));
  EXPECT_TRUE(IsPastNotAfter(t, end + 1));
  ASN1_TIME_free(t);
}

TEST(CertChecks, BasicConstraintsDecideCaAndTheirAbsenceRaises) {
  CertSpec ca;
  ca.basicConstraints = test::BasicConstraints::Ca;
  CertSpec none;
  none.basicConstraints = test::BasicConstraints::None;
  EXPECT_TRUE(IsCaCertificate(Issue(ca, nullptr).cert.get()));
  EXPECT_FALSE(IsCaCertificate(Issue(CertSpec{}, nullptr).cert.get()));
  X509Ptr bare = std::move(Issue(none, nullptr).cert);
  ExpectUndefined([&] { IsCaCertificate(bare.get()); });
}

TEST(CertNames, SerialKeepsTheLeadingZeroByte) {
  CertSpec spec;
  spec.serialHex = "8F01";
  EXPECT_EQ(SerialHex(Issue(spec, nullptr).cert.get()), "008f01");
  spec.serialHex = "7f01";
  EXPECT_EQ(SerialHex(Issue(spec, nullptr).cert.get()), "7f01");
}

TEST_F(CertManagerTest, PfxChainEdgeCases) {
  KeyedCert root = test::NewRoot("Edge Root");
  KeyedCert otherRoot = test::NewRoot("Other Root");
  CertSpec caSpec;
  caSpec.commonName = "Edge CA";
  caSpec.basicConstraints = test::BasicConstraints::Ca;
  KeyedCert ca = Issue(caSpec, &root);
  KeyedCert leaf = Issue(CertSpec{}, &ca);
  CertSpec bareSpec;
  bareSpec.basicConstraints = test::BasicConstraints::None;
  KeyedCert bareLeaf = Issue(bareSpec, &ca);

  struct Case {
    const char* name;
    std::vector<X509*> certs;
    KeyedCert* signer;
    std::vector<std::string> chain;  // subject names
  } cases[] = {
      {"only the leaf", {leaf.cert.get()}, &leaf, {}},
      // Without its root the chain is still carried as far as it is known.
      {"root missing", {leaf.cert.get(), ca.cert.get()}, &leaf, {"Edge CA"}},
      {"unrelated root left out",
       {otherRoot.cert.get(), leaf.cert.get(), root.cert.get(), ca.cert.get()},
       &leaf,
       {"Edge CA", "Edge Root"}},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = WritePfx("chain.pfx", {"pw", c.certs, c.signer->key.get()});
    CertManager manager;
    manager.SetIssuerDownloader([](const std::string&, const std::string&) {
      RaiseStatus(StatusCode::CommunicationFailed);
    });
    manager.LoadPfx(path, "pw");
    manager.BuildChain();
    std::vector<std::string> names;
    for (const ChainCert& entry : manager.chain()) names.push_back(entry.subjectName);
    EXPECT_EQ(names, c.chain);
  }

  // A store certificate without basic constraints stops the build.
  std::string path =
      WritePfx("bare.pfx",
               {"pw", {bareLeaf.cert.get(), ca.cert.get(), root.cert.get()}, bareLeaf.key.get()});
  CertManager manager;
  manager.LoadPfx(path, "pw");
  ExpectUndefined([&] { manager.BuildChain(); });
}

ChainCert Entry(const std::string& subject, const std::string& issuer) {
  return {"01", issuer, subject, {}};
}

TEST(OrderChain, KeepsThePathToARootAndEndsOnCycles) {
  struct Case {
    const char* name;
    ChainList chain;
    std::vector<std::string> expected;
  } cases[] = {
      {"out of order", {Entry("Root", "Root"), Entry("CA", "Root")}, {"CA", "Root"}},
      {"cycle without root", {Entry("CA", "B"), Entry("B", "CA")}, {}},
      {"first of two same names wins",
       {Entry("CA", "Root"), Entry("CA", "Elsewhere"), Entry("Root", "Root")},
       {"CA", "Root"}},
      {"no issuer present", {Entry("X", "Y")}, {}},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    OrderChain(c.chain, "CA", "Leaf");
    std::vector<std::string> names;
    for (const ChainCert& entry : c.chain) names.push_back(entry.subjectName);
    EXPECT_EQ(names, c.expected);
  }
}

}  // namespace
}  // namespace corvane
