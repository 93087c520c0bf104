#include "csr/key_store_csr.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>

#include "cert/cert_install.h"
#include "cert/store_selection.h"
#include "crypto/x509_names.h"
#include "fixtures/run_command.h"
#include "fixtures/token_signer.h"

namespace corvane {
namespace {

class KeyStoreCsr : public ::testing::Test {
 protected:
  test::TokenWorld world_;
  std::shared_ptr<KeyStore> store_ = world_.OpenStore();
};

TEST_F(KeyStoreCsr, TokensOfferTheirKeyLengths) {
  std::vector<KeyStoreProvider> providers = KeyStoreProviders(*store_);
  ASSERT_EQ(providers.size(), 1u);
  EXPECT_EQ(providers[0].name, "Signing");
  EXPECT_GE(providers[0].maxKeyBits, 4096u);
  EXPECT_EQ(KeyStoreKeyLengths(providers[0].maxKeyBits),
            (std::vector<std::string>{"2048", "4096"}));
  const struct {
    unsigned long max;
    std::vector<std::string> lengths;
  } cases[] = {{1024, {}},
               {2048, {"2048"}},
               {3072, {"2048"}},
               {4096, {"2048", "4096"}},
               {16384, {"2048", "4096"}}};
  for (const auto& c : cases) EXPECT_EQ(KeyStoreKeyLengths(c.max), c.lengths) << c.max;
}

TEST_F(KeyStoreCsr, ChoicesAndSubjectsAreCheckedBeforeAKeyIsMade) {
  const struct {
    const char* provider;
    const char* length;
    const char* subject;
    const char* state;
  } cases[] = {
      {"", "2048", "CN=A, O=B", "UiGloErrSelCSP"},
      {"Signing", "", "CN=A, O=B", "UiGloErrSelKeyLen"},
      {"Signing", "1024", "CN=A, O=B", "UiGloErrSelKeyLen"},
      {"No Such Token", "2048", "CN=A, O=B", "UiTaskStateLoadControlFailed"},
      {"Signing", "2048", "not a name", "UiTaskStateInputInvalid"},
      {"Signing", "2048", "CN=A, XX=B", "UiTaskStateInputInvalid"},
      {"Signing", "2048", "CN=A, O=B, C=China", "UiTaskStateInputInvalid"},
      {"Signing", "2048", "", "UiTaskStateInputInvalid"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.provider) + "|" + c.length + "|" + c.subject);
    KeyStoreRequest r = GenerateKeyStoreRequest(*store_, c.provider, c.length, c.subject);
    EXPECT_FALSE(r.produced);
    EXPECT_EQ(r.stateKey, c.state);
  }
  EXPECT_TRUE(store_->Keys(0).empty()) << "no key was left on the token";
}

TEST_F(KeyStoreCsr, TheTabChecksInItsOrderAndAsksThePinOnlyOnceEverythingPassed) {
  CsrFields badMail;
  badMail.commonName = "Someone";
  badMail.email = "not-an-address";
  CsrFields good = badMail;
  good.email = "someone@example.com";
  // Each case would fail every later check too: the first one in the tab's order wins.
  const struct {
    const char* provider;
    const char* length;
    const CsrFields& fields;
    const char* state;
  } cases[] = {
      {"", "1024", badMail, "UiGloErrSelCSP"},
      {"Signing", "1024", badMail, "UiGloErrSelKeyLen"},
      {"No Such Token", "2048", badMail, "UiTaskStateLoadControlFailed"},
      {"Signing", "2048", badMail, "UiTaskStateEmailAddressIsIllegal"},
  };
  int pinsAsked = 0;
  PinPrompt prompt = [&](const std::string&) -> std::optional<std::string> {
    ++pinsAsked;
    return std::string(test::kTokenPin);
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.state);
    std::vector<std::string> shown;
    KeyStoreRequest r =
        GenerateKeyStore(*store_, c.provider, c.length, CsrKind::Client, c.fields, prompt,
                         [&](const UiMessage& m) { shown.push_back(m.key); });
    EXPECT_FALSE(r.produced);
    EXPECT_EQ(r.stateKey, c.state);
    EXPECT_EQ(shown, std::vector<std::string>{"UiCSRTaskStateWait"});
  }
  EXPECT_EQ(pinsAsked, 0);

  // An empty length takes the token's first; the PIN is asked through the caller's prompt.
  std::shared_ptr<KeyStore> fresh = world_.OpenStore(std::nullopt);
  KeyStoreRequest made = GenerateKeyStore(*fresh, "Signing", "", CsrKind::Client, good, prompt);
  EXPECT_TRUE(made.produced) << made.stateKey;
  EXPECT_EQ(pinsAsked, 1);
  EXPECT_EQ(world_.prompts(), 0) << "the store's own prompt was not used";
}

TEST_F(KeyStoreCsr, RequestFromTheTokenKeyBecomesAnInstalledSigningCertificate) {
  KeyStoreRequest r =
      GenerateKeyStoreRequest(*store_, "Signing", "2048", "CN=Token Request, O=Corvane Test, C=CN");
  ASSERT_TRUE(r.produced) << r.stateKey;
  EXPECT_EQ(r.stateKey, "UiCSRTaskStateComplete");
  EXPECT_EQ(r.request.rfind("-----BEGIN CERTIFICATE REQUEST-----\r\n", 0), 0u);
  EXPECT_TRUE(r.request.ends_with("\r\n-----END CERTIFICATE REQUEST-----"));
  for (std::size_t at = r.request.find('\n'); at != std::string::npos;
       at = r.request.find('\n', at + 1))
    ASSERT_EQ(r.request[at - 1], '\r') << "every line ends in CR LF";

  std::string path = world_.tokens().dir() / "request.csr";
  test::WriteFileBytes(path, r.request);
  test::CommandResult verify =
      test::RunCommand("/usr/bin/openssl", {"req", "-verify", "-noout", "-subject", "-in", path});
  EXPECT_EQ(verify.exitStatus, 0) << verify.err;
  EXPECT_NE((verify.out + verify.err).find("CN = Token Request, O = Corvane Test, C = CN"),
            std::string::npos)
      << verify.out << verify.err;

  // The authority issues from the request; the certificate goes onto the token beside the key.
  BioPtr bio(BIO_new_mem_buf(r.request.data(), static_cast<int>(r.request.size())));
  X509_REQ* request = PEM_read_bio_X509_REQ(bio.get(), nullptr, nullptr, nullptr);
  ASSERT_NE(request, nullptr);
  test::KeyedCert issuing = test::Authority("issuing-a1");
  test::CertSpec spec;
  spec.commonName = "Token Request";
  spec.serialHex = "00e1";
  spec.subjectKey = X509_REQ_get0_pubkey(request);
  test::KeyedCert issued = test::Issue(spec, &issuing);
  X509_REQ_free(request);

  std::vector<InstallItem> plan =
      PlanInstall(CertificatesFromInput(test::ToPem(issued.cert.get())), store_.get());
  ASSERT_EQ(plan.size(), 1u);
  EXPECT_EQ(plan[0].target, InstallTarget::Token);
  EXPECT_EQ(plan[0].keyId, r.keyId);
  ASSERT_TRUE(InstallCertificates(plan, store_.get(), [](auto&) { return true; }));

  std::vector<StoreCertEntry> listed = SelectableCertificates(*store_);
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].identity.subjectName, "Token Request");
  EXPECT_EQ(listed[0].identity.serialHex, "00e1");
  EXPECT_TRUE(store_->FindStoreCert("My", "Corvane Code Signing CA", "00e1"));
}

TEST(DistinguishedName, AttributesKeepTheirWrittenOrder) {
  const struct {
    const char* text;
    const char* name;  // null: refused
  } cases[] = {
      {"CN=Foo, O=Bar", "CN=Foo, O=Bar"},
      {"CN=Foo, O=Bar, C=CN", "CN=Foo, O=Bar, C=CN"},
      {"CN=Foo, E=", "CN=Foo"},  // an empty e-mail address is left out
      {"CN=Foo\\, Inc., O=Bar", "CN=Foo, Inc., O=Bar"},
      {"cn=lower, e=a@b.example", "CN=lower, emailAddress=a@b.example"},
      {"CN=Foo; O=Bar", "CN=Foo, O=Bar"},
      {"CN=Foo, Bar", nullptr},
      {"=Foo", nullptr},
      {"E=", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    X509NamePtr name = ParseDistinguishedName(c.text);
    ASSERT_EQ(name != nullptr, c.name != nullptr);
    if (!name) continue;
    std::string written;
    for (int i = 0; i < X509_NAME_entry_count(name.get()); ++i) {
      const X509_NAME_ENTRY* e = X509_NAME_get_entry(name.get(), i);
      const ASN1_STRING* v = X509_NAME_ENTRY_get_data(e);
      written += std::string(written.empty() ? "" : ", ") +
                 OBJ_nid2sn(OBJ_obj2nid(X509_NAME_ENTRY_get_object(e))) + "=" +
                 std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(v)),
                             static_cast<std::size_t>(ASN1_STRING_length(v)));
    }
    EXPECT_EQ(written, c.name);
  }
}

}  // namespace
}  // namespace corvane
