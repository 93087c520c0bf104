#include <gtest/gtest.h>

#include "cert/cert_manager.h"
#include "cert/key_store.h"
#include "crypto/x509_names.h"
#include "fixtures/signing_environment.h"
#include "fixtures/token_signer.h"
#include "sign/file_sign.h"

namespace corvane {
namespace {

class KeyStoreSigning : public ::testing::Test {
 protected:
  test::SigningEnvironment env_;
  test::TokenWorld world_;
};

TEST_F(KeyStoreSigning, AKeyMadeOnTheTokenSignsAnImageOsslsigncodeAccepts) {
  std::shared_ptr<KeyStore> store = world_.OpenStore();
  ASSERT_EQ(store->Tokens().size(), 1u);
  EXPECT_EQ(store->Tokens()[0].label, "Signing");
  TokenKey key = store->GenerateRsaKey(0, 2048, "code signing");
  test::KeyedCert issuing = test::Authority("issuing-a1");
  // The issuer sits on the token too, without a key: the chain policy finds it there.
  store->PutCertificate(0, issuing.cert.get(), "", "issuing CA");
  X509Ptr cert = world_.PutCert(*store, {}, issuing, key.key, key.id);

  CertManager manager;
  manager.SetCertStore(store);
  manager.LoadFromStore({"", IssuerDisplayName(cert.get()), SerialHex(cert.get())});
  EXPECT_FALSE(manager.IsExpired());
  EXPECT_TRUE(manager.IsCodeSigning());
  manager.BuildChain();
  ASSERT_EQ(manager.chain().size(), 2u);
  EXPECT_EQ(manager.chain()[0].subjectName, SubjectDisplayName(issuing.cert.get()));
  EXPECT_EQ(manager.chain()[1].subjectName, "Certification Authority of Corvane");
  manager.RecognizeOwnCa();

  ASSERT_NE(manager.privateKey(), nullptr);
  std::string path = env_.CopyImage("console-x64.exe");
  std::unique_ptr<CFileSign> signer = CreateFileSigner("peType");
  signer->SetCertManager(&manager);
  signer->SignFile(path, path, false);
  std::string log;
  EXPECT_EQ(env_.OsslVerify(path, &log), 0) << log;
  EXPECT_EQ(world_.prompts(), 1) << "one PIN entry serves the whole run";
}

}  // namespace
}  // namespace corvane
