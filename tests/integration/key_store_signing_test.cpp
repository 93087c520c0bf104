#include <gtest/gtest.h>

#include "cert/cert_manager.h"
#include "cert/key_store.h"
#include "crypto/x509_names.h"
#include "fixtures/signing_environment.h"
#include "fixtures/token_signer.h"
#include "sign/file_sign.h"
#include "sign/signature_creation.h"

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

TEST_F(KeyStoreSigning, ATokenRefusingTheSignatureFailsTheProbeAsAnUnsupportedAlgorithm) {
  std::string issuer, serial;
  {
    std::shared_ptr<KeyStore> store = world_.OpenStore();
    TokenKey key = store->GenerateRsaKey(0, 2048, "refusing");
    X509Ptr cert = world_.PutCert(*store, {}, test::Authority("issuing-a1"), key.key, key.id);
    issuer = IssuerDisplayName(cert.get());
    serial = SerialHex(cert.get());
  }
  // The token keeps only hash-and-sign mechanisms; the raw PKCS #1 signature is refused.
  world_.tokens().Configure("slots.mechanisms = CKM_RSA_PKCS_KEY_PAIR_GEN,CKM_SHA1_RSA_PKCS");
  CertManager manager;
  manager.SetCertStore(world_.OpenStore());
  manager.LoadFromStore({"", issuer, serial});
  SignerCertificate signer{manager.certificate(), manager.privateKey(), {}, false};
  std::string status = "succeed";
  try {
    ProbeSha256(signer);
  } catch (const std::exception& e) {
    status = e.what();
  }
  EXPECT_EQ(status, "algorithm is not supported");

  std::string path = env_.CopyImage("console-x64.exe");
  const std::string before = test::ReadFileBytes(path);
  std::unique_ptr<CFileSign> fileSigner = CreateFileSigner("peType");
  fileSigner->SetCertManager(&manager);
  try {
    fileSigner->SignFile(path, path, false);
    status = "succeed";
  } catch (const std::exception& e) {
    status = e.what();
  }
  EXPECT_EQ(status, "algorithm is not supported");
  EXPECT_TRUE(test::ReadFileBytes(path) == before) << "the file is unchanged";
}

}  // namespace
}  // namespace corvane
