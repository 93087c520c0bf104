#include "cert/key_store.h"

#include <gtest/gtest.h>
#include <openssl/pkcs7.h>

#include <filesystem>

#include "cert/cert_install.h"
#include "cert/cert_manager.h"
#include "cert/store_selection.h"
#include "crypto/x509_names.h"
#include "fixtures/token_signer.h"

namespace corvane {
namespace {

using test::BasicConstraints;
using test::CertSpec;
using test::KeyedCert;

std::string Status(const std::function<void()>& run) {
  try {
    run();
    return "succeed";
  } catch (const std::exception& e) {
    return e.what();
  }
}

class KeyStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store_ = world_.OpenStore();
    key_ = store_->GenerateRsaKey(0, 2048, "signing key");
  }
  X509Ptr Put(CertSpec spec, const KeyedCert& issuer, const std::string& label = "cert") {
    return world_.PutCert(*store_, std::move(spec), issuer, key_.key, key_.id, label);
  }
  static CertSpec Named(const std::string& cn, const std::string& serial = "") {
    CertSpec spec;
    spec.commonName = cn;
    spec.serialHex = serial;
    return spec;
  }

  test::TokenWorld world_;
  std::shared_ptr<KeyStore> store_;
  TokenKey key_;
  KeyedCert issuingA1_ = test::Authority("issuing-a1");
  KeyedCert issuingA2_ = test::Authority("issuing-a2");
};

TEST_F(KeyStoreTest, FoundAgainByIssuerNameAndSerialOnly) {
  X509Ptr zeroLed = Put(Named("Zero Led", "00ff0102"), issuingA1_);
  X509Ptr fromA1 = Put(Named("Same Serial A1", "0a0b0c"), issuingA1_);
  X509Ptr fromA2 = Put(Named("Same Serial A2", "0a0b0c"), issuingA2_);
  ASSERT_EQ(SerialHex(zeroLed.get()), "00ff0102");

  const struct {
    const char* issuer;
    const char* serial;
    const char* subject;  // null: not found
  } cases[] = {
      {"Corvane Code Signing CA", "00ff0102", "Zero Led"},
      {"Corvane Code Signing CA", "ff0102", nullptr},    // the zero byte is part of the serial
      {"Corvane Code Signing CA", "00FF0102", nullptr},  // case-sensitive
      {"Corvane Code Signing CA", "0a0b0c", "Same Serial A1"},
      {"Corvane EV Code Signing CA", "0a0b0c", "Same Serial A2"},
      {"Corvane Code Signing CA G2", "0a0b0c", nullptr},
  };
  ASSERT_EQ(IssuerDisplayName(fromA1.get()), "Corvane Code Signing CA");
  ASSERT_EQ(IssuerDisplayName(fromA2.get()), "Corvane EV Code Signing CA");
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.issuer) + " " + c.serial);
    std::optional<StoreCertificate> found = store_->FindStoreCert("My", c.issuer, c.serial);
    ASSERT_EQ(found.has_value(), c.subject != nullptr);
    if (!found) continue;
    EXPECT_EQ(SubjectDisplayName(found->certificate.get()), c.subject);
    EXPECT_NE(found->key, nullptr);
  }
  EXPECT_FALSE(store_->FindStoreCert("Root", "Corvane Code Signing CA", "00ff0102"));
  EXPECT_EQ(world_.prompts(), 1);
}

TEST_F(KeyStoreTest, OnlyTheTokenHoldingTheCertificateAsksForItsPin) {
  store_.reset();  // the module sees a new token when it is next initialised
  world_.tokens().AddToken("Second");
  std::vector<std::string> asked;
  {
    KeyStore store({test::kSoftHsmModule}, [&](const std::string& token) {
      asked.push_back(token);
      return std::optional<std::string>(test::kTokenPin);
    });
    ASSERT_EQ(store.Tokens().size(), 2u);
    ASSERT_EQ(store.FindTokens("Second").size(), 1u);
    const std::size_t second = store.FindTokens("Second")[0];
    TokenKey key = store.GenerateRsaKey(second, 2048, "second key");
    CertSpec spec = Named("On Second", "00beef");
    spec.subjectKey = key.key;
    KeyedCert cert = test::Issue(spec, &issuingA1_);
    store.PutCertificate(second, cert.cert.get(), key.id, "second");
  }

  KeyStore fresh({test::kSoftHsmModule}, [&](const std::string& token) {
    asked.push_back("fresh " + token);
    return std::optional<std::string>(test::kTokenPin);
  });
  std::optional<StoreCertificate> found =
      fresh.FindStoreCert("My", "Corvane Code Signing CA", "00beef");
  ASSERT_TRUE(found);
  EXPECT_NE(found->key, nullptr);
  EXPECT_EQ(asked, (std::vector<std::string>{"Second", "fresh Second"}));
}

TEST_F(KeyStoreTest, SelectionListsOnlyCertificatesThatCanSignCode) {
  CertSpec expired = Named("Expired");
  expired.notBeforeSeconds = -7200;
  expired.notAfterSeconds = -60;
  CertSpec ca = Named("A CA");
  ca.basicConstraints = BasicConstraints::Ca;
  CertSpec noConstraints = Named("No Constraints");
  noConstraints.basicConstraints = BasicConstraints::None;
  CertSpec noEku = Named("No EKU");
  noEku.extendedKeyUsage = false;
  CertSpec clientAuth = Named("Client Auth");
  clientAuth.codeSigningUsage = false;
  CertSpec notYetValid = Named("Not Yet Valid");
  notYetValid.notBeforeSeconds = 3600;
  for (const CertSpec& spec :
       {expired, ca, noConstraints, noEku, clientAuth, notYetValid, Named("Good Signer")})
    Put(spec, issuingA1_);
  // A certificate whose key is nowhere on the token.
  KeyedCert keyless = test::Issue(Named("No Key"), &issuingA1_);
  store_->PutCertificate(0, keyless.cert.get(), "\x01\x02", "no key");

  std::vector<std::string> listed;
  for (const StoreCertEntry& entry : SelectableCertificates(*store_)) {
    listed.push_back(entry.identity.subjectName);
    EXPECT_EQ(entry.token, "Signing");
    EXPECT_EQ(entry.identity.issuerName, "Corvane Code Signing CA");
    EXPECT_EQ(entry.uri.rfind("pkcs11:", 0), 0u);
  }
  EXPECT_EQ(listed, (std::vector<std::string>{"Not Yet Valid", "Good Signer"}));
}

TEST_F(KeyStoreTest, CertificateDetailsForTheViewer) {
  CertSpec spec = Named("Viewer Signer", "00a1b2");
  X509Ptr cert = Put(spec, issuingA1_);
  CertificateDetails d = ShowCertificateData(cert.get());
  EXPECT_EQ(d.subject, "CN=Viewer Signer, O=Test Org");
  EXPECT_EQ(d.subjectName, "Viewer Signer");
  EXPECT_EQ(d.issuerName, "Corvane Code Signing CA");
  EXPECT_NE(d.issuer.find("CN=Corvane Code Signing CA,"), std::string::npos);
  EXPECT_EQ(d.serialHex, "00a1b2");
  EXPECT_EQ(d.notAfter, NotAfterText(cert.get()));
  EXPECT_EQ(d.usages,
            (std::vector<std::string>{"Digital Signature", "Code Signing (1.3.6.1.5.5.7.3.3)"}));
  EXPECT_EQ(d.thumbprint, Thumbprint(cert.get()));
  EXPECT_EQ(d.thumbprint.size(), 40u);
}

TEST_F(KeyStoreTest, FoundByPkcs11Uri) {
  X509Ptr cert = Put(Named("Uri Signer"), issuingA1_, "uri signer");
  const TokenCertificate* listed =
      store_->FindByIdentity(IssuerDisplayName(cert.get()), SerialHex(cert.get()));
  ASSERT_NE(listed, nullptr);
  const std::string id = [&] {
    std::string hex;
    for (unsigned char c : key_.id)
      hex += "%" + std::string{"0123456789ABCDEF"[c >> 4]} + "0123456789ABCDEF"[c & 15];
    return hex;
  }();
  const struct {
    std::string uri;
    bool found;
  } cases[] = {
      {listed->uri, true},
      {"pkcs11:token=Signing;object=uri%20signer;type=cert", true},
      {"pkcs11:token=Signing;id=" + id + ";type=private", true},
      {"pkcs11:token=Other;object=uri%20signer", false},
      {"pkcs11:object=nothing%20here", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.uri);
    const TokenCertificate* found = store_->FindByUri(c.uri);
    ASSERT_EQ(found != nullptr, c.found);
    if (found) {
      EXPECT_EQ(CertDer(found->certificate), CertDer(cert.get()));
    }
  }
  EXPECT_EQ(Status([&] { store_->FindByUri("Signing:00ab"); }), "undefined");
  EXPECT_EQ(store_->FindTokens("Signing").size(), 1u);
  EXPECT_EQ(store_->FindTokens("pkcs11:token=Signing").size(), 1u);
  EXPECT_TRUE(store_->FindTokens("pkcs11:token=Other").empty());
}

TEST_F(KeyStoreTest, PinInUriServesAsTheTokensPin) {
  X509Ptr cert = Put(Named("Pin Uri"), issuingA1_, "pin uri");
  auto fresh = std::make_shared<KeyStore>(std::vector<std::string>{test::kSoftHsmModule},
                                          [](const std::string&) -> std::optional<std::string> {
                                            ADD_FAILURE() << "no prompt expected";
                                            return std::nullopt;
                                          });
  const TokenCertificate* found = fresh->FindByUri(
      std::string("pkcs11:token=Signing;object=pin%20uri?pin-value=") + test::kTokenPin);
  ASSERT_NE(found, nullptr);
  EXPECT_NE(found->key, nullptr);
}

TEST_F(KeyStoreTest, RefusedAndCancelledPinsHaveTheirTexts) {
  X509Ptr cert = Put(Named("Pin Signer"), issuingA1_);
  const CertIdentity identity{"", IssuerDisplayName(cert.get()), SerialHex(cert.get())};
  const struct {
    std::optional<std::string> pin;
    const char* status;
  } cases[] = {
      {std::string("654321"), "KeyStore::Login, pin incorrect"},
      {std::nullopt, "user cancel the operation"},
      {std::string(test::kTokenPin), "succeed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    CertManager manager;
    manager.SetCertStore(world_.OpenStore(c.pin));
    EXPECT_EQ(Status([&] { manager.LoadFromStore(identity); }), c.status);
  }
}

class CertInstall : public KeyStoreTest {
 protected:
  std::string Bundle(const std::vector<X509*>& certs) {
    std::string pem;
    for (X509* c : certs) pem += test::ToPem(c);
    return pem;
  }
  KeyedCert rootA_ = test::Authority("root-a");
};

TEST_F(CertInstall, LeafGoesBesideItsTokenKeyAndCasToTheUsersStores) {
  CertSpec spec = Named("Issued From Csr");
  spec.subjectKey = key_.key;
  KeyedCert leaf = test::Issue(spec, &issuingA1_);
  std::vector<InstallItem> plan = PlanInstall(
      CertificatesFromInput(Bundle({leaf.cert.get(), issuingA1_.cert.get(), rootA_.cert.get()})),
      store_.get());
  ASSERT_EQ(plan.size(), 3u);
  EXPECT_EQ(plan[0].target, InstallTarget::Token);
  EXPECT_EQ(plan[0].keyId, key_.id);
  EXPECT_EQ(plan[1].target, InstallTarget::Intermediate);
  EXPECT_EQ(plan[2].target, InstallTarget::Trust);
  EXPECT_EQ(plan[0].description, "Issued From Csr: token \"Signing\", beside its private key");

  // Declined: nothing is placed.
  EXPECT_FALSE(InstallCertificates(plan, store_.get(), [](auto&) { return false; }));
  EXPECT_TRUE(store_->Certificates(0).empty());
  EXPECT_FALSE(std::filesystem::exists(plan[1].path));

  std::size_t shown = 0;
  EXPECT_TRUE(InstallCertificates(plan, store_.get(), [&](const std::vector<InstallItem>& p) {
    shown = p.size();
    return true;
  }));
  EXPECT_EQ(shown, 3u);
  EXPECT_TRUE(std::filesystem::exists(plan[1].path));
  EXPECT_EQ(plan[1].path.rfind(world_.configHome() + "/corvanecode/intermediate/", 0), 0u);
  ASSERT_EQ(store_->Certificates(0).size(), 1u);
  EXPECT_NE(store_->Certificates(0)[0].key, nullptr);

  // The chain of a probe signature now comes from the intermediate and trust stores.
  CertManager manager;
  manager.SetCertStore(store_);
  manager.LoadFromStore({"", IssuerDisplayName(leaf.cert.get()), SerialHex(leaf.cert.get())});
  manager.BuildChain();
  ASSERT_EQ(manager.chain().size(), 2u);
  EXPECT_EQ(manager.chain()[0].subjectName, "Corvane Code Signing CA");
  EXPECT_EQ(manager.chain()[1].subjectName, "Certification Authority of Corvane");

  // Installed twice: every item is already there and nothing is duplicated.
  std::vector<InstallItem> again = PlanInstall(
      CertificatesFromInput(Bundle({leaf.cert.get(), issuingA1_.cert.get(), rootA_.cert.get()})),
      store_.get());
  for (const InstallItem& item : again) EXPECT_TRUE(item.alreadyThere) << item.description;
  EXPECT_TRUE(InstallCertificates(again, store_.get(), [](auto&) { return true; }));
  EXPECT_EQ(store_->Certificates(0).size(), 1u);
}

TEST_F(CertInstall, EveryInputFormIsRead) {
  KeyedCert other = test::Issue(Named("Elsewhere"), &issuingA1_);
  std::string pem = test::ToPem(other.cert.get());
  std::string crPem = pem;
  for (char& c : crPem)
    if (c == '\n') c = '\r';
  PKCS7* p7 = PKCS7_new();
  PKCS7_set_type(p7, NID_pkcs7_signed);
  PKCS7_content_new(p7, NID_pkcs7_data);
  PKCS7_add_certificate(p7, other.cert.get());
  PKCS7_add_certificate(p7, issuingA1_.cert.get());
  unsigned char* der = nullptr;
  int length = i2d_PKCS7(p7, &der);
  std::string p7der(reinterpret_cast<char*>(der), static_cast<std::size_t>(length));
  OPENSSL_free(der);
  PKCS7_free(p7);
  test::PfxSpec pfx;
  pfx.password = "";
  pfx.certificates = {other.cert.get(), issuingA1_.cert.get()};
  pfx.key = other.key.get();

  const struct {
    const char* name;
    std::string input;
    std::size_t count;  // 0: refused
  } cases[] = {
      {"PEM", pem, 1},
      {"PEM pasted with bare CR", NormalizePastedText(crPem), 1},
      {"DER", test::ToDer(other.cert.get()), 1},
      {"bare base64", pem.substr(28, pem.size() - 28 - 26), 1},
      {"PEM bundle", pem + test::ToPem(issuingA1_.cert.get()), 2},
      {"PKCS #7 DER", p7der, 2},
      {"PKCS #12 without password", test::MakePfx(pfx), 2},
      {"random bytes", std::string("\x13\x37 not a certificate at all", 28), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::size_t count = 0;
    std::string status = Status([&] { count = CertificatesFromInput(c.input).size(); });
    EXPECT_EQ(status, c.count ? "succeed" : "undefined");
    EXPECT_EQ(count, c.count);
  }
  std::string p7base64(4 * ((p7der.size() + 2) / 3) + 1, '\0');
  p7base64.resize(static_cast<std::size_t>(EVP_EncodeBlock(
      reinterpret_cast<unsigned char*>(p7base64.data()),
      reinterpret_cast<const unsigned char*>(p7der.data()), static_cast<int>(p7der.size()))));
  const struct {
    const char* name;
    std::string input;
    bool pkcs7;
  } pkcs7Cases[] = {
      {"PKCS #7 DER", p7der, true},
      {"PKCS #7 base64", p7base64, true},
      {"certificate PEM", pem, false},
      {"certificate DER", test::ToDer(other.cert.get()), false},
      {"random bytes", "\x30\x03\x02\x01", false},
  };
  for (const auto& c : pkcs7Cases) EXPECT_EQ(IsPkcs7SignedMessage(c.input), c.pkcs7) << c.name;
  std::string file = world_.tokens().dir() / "bundle.p7b";
  test::WriteFileBytes(file, p7der);
  EXPECT_EQ(PlanInstallFromFile(file, store_.get()).size(), 2u);
  EXPECT_EQ(PlanInstallFromText(crPem, store_.get()).size(), 1u);
  EXPECT_EQ(Status([&] { PlanInstallFromFile(world_.tokens().dir() / "missing.cer", nullptr); }),
            "undefined");

  // A leaf no token has the key for is shown but placed nowhere.
  std::vector<InstallItem> plan = PlanInstall(CertificatesFromInput(pem), store_.get());
  EXPECT_EQ(plan[0].target, InstallTarget::Nowhere);
}

}  // namespace
}  // namespace corvane

namespace corvane {
namespace {

TEST(KeyStoreModules, StoresShareTheirModuleAndANewTokenShowsInTheNextStore) {
  test::TokenWorld world;
  std::shared_ptr<KeyStore> first = world.OpenStore();
  TokenKey key = first->GenerateRsaKey(0, 2048, "kept");
  world.tokens().AddToken("Later");
  {
    // A second store while the first is in use: letting it go does not end the first's
    // sessions.
    std::shared_ptr<KeyStore> second = world.OpenStore();
    EXPECT_EQ(second->Tokens().size(), 1u) << "the module was initialised before the token came";
  }
  ASSERT_EQ(first->Keys(0).size(), 1u);
  EXPECT_EQ(first->Keys(0)[0].id, key.id);
  first.reset();
  // Once no store holds the module, the next one sees the tokens present now.
  std::shared_ptr<KeyStore> next = world.OpenStore();
  ASSERT_EQ(next->Tokens().size(), 2u);
  EXPECT_EQ(next->FindTokens("Later").size(), 1u);
}

}  // namespace
}  // namespace corvane
