#include "zorvat/cert_load.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>

#include "fixtures/run_command.h"
#include "fixtures/temp_dir.h"
#include "fixtures/test_pki.h"

namespace corvane {
namespace {

std::string KeyPem(EVP_PKEY* key, const EVP_CIPHER* cipher, const char* password) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  PEM_write_bio_PrivateKey(bio.get(), key, cipher, nullptr, 0, nullptr,
                           const_cast<char*>(password));
  char* data = nullptr;
  long n = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(n));
}

std::string KeyDer(EVP_PKEY* key) {
  unsigned char* der = nullptr;
  int n = i2d_PrivateKey(key, &der);
  std::string out(reinterpret_cast<char*>(der), static_cast<std::size_t>(n));
  OPENSSL_free(der);
  return out;
}

class CertLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    ca_ = test::Authority("issuing-a1");
    leaf_ = test::Issue(test::CertSpec{}, &ca_);
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    std::string path = dir_ / name;
    test::WriteFileBytes(path, bytes);
    return path;
  }
  test::TempDir dir_;
  test::KeyedCert ca_, leaf_;
};

TEST_F(CertLoad, ReadsEveryKeyFormWithItsPassword) {
  EVP_PKEY* key = leaf_.key.get();
  std::string der = Write("key.der", KeyDer(key));
  // The encrypted-DER scheme, made by the openssl tool: EVP_BytesToKey, SHA-1, no salt, 1 round.
  std::string schemed = dir_ / "key.enc";
  test::CommandResult enc =
      test::RunCommand("/usr/bin/openssl", {"enc", "-des-ede3-cbc", "-nosalt", "-md", "sha1",
                                            "-pass", "pass:pw", "-in", der, "-out", schemed});
  ASSERT_EQ(enc.exitStatus, 0) << enc.err;
  EXPECT_EQ(zorvat::EncryptDerKeyScheme(KeyDer(key), "pw"), test::ReadFileBytes(schemed));
  std::string plainPem = Write("plain.pem", KeyPem(key, nullptr, nullptr));
  std::string encryptedPem = Write("enc.pem", KeyPem(key, EVP_aes_256_cbc(), "pw"));
  std::string p12 = Write("key.p12", test::MakePfx({"pw", {leaf_.cert.get()}, key}));
  std::string legacyP12 = Write("legacy.p12", test::MakePfx({"pw", {leaf_.cert.get()}, key, true}));

  struct Case {
    std::string path;
    const char* password;
    bool loads;
  } cases[] = {
      {plainPem, "", true},       {plainPem, "anything", true},  // plain PEM ignores it
      {encryptedPem, "pw", true}, {encryptedPem, "wrong", false},
      {encryptedPem, "", false},  {p12, "pw", true},
      {p12, "wrong", false},      {legacyP12, "pw", true},
      {schemed, "pw", true},      {schemed, "wrong", false},
      {schemed, "", false},       {der, "", true},
      {der, "pw", false},  // plain DER only with an empty password
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path + " / " + c.password);
    std::string error = "stale";
    EvpPkeyPtr loaded = zorvat::LoadPrivateKey(c.path, c.password, error);
    EXPECT_EQ(loaded != nullptr, c.loads);
    if (c.loads) {
      EXPECT_EQ(error, "");
      EXPECT_EQ(EVP_PKEY_eq(loaded.get(), key), 1);
    } else {
      EXPECT_EQ(error, "unable to load Private Key\n");
    }
  }
  std::string error;
  EXPECT_FALSE(zorvat::LoadPrivateKey(dir_ / "missing.key", "", error));
  EXPECT_EQ(error.rfind("open CA certificate file error;keylen:0,", 0), 0u);
}

TEST_F(CertLoad, ReadsCertificatesAsDerPemOrPkcs12) {
  X509* cert = leaf_.cert.get();
  std::string p12 = test::MakePfx({"pw", {cert}, leaf_.key.get()});
  std::string pemPath = Write("c.pem", test::ToPem(cert));
  struct Case {
    const char* name;
    zorvat::Source source;
    const char* password;
    bool loads;
  };
  std::string der = test::ToDer(cert), pem = test::ToPem(cert);
  const Case cases[] = {
      {"DER", zorvat::Source::Memory(der), "", true},
      {"PEM", zorvat::Source::Memory(pem), "", true},
      {"PEM file", zorvat::Source::File(pemPath), "", true},
      {"PKCS #12", zorvat::Source::Memory(p12), "pw", true},
      {"PKCS #12, wrong password", zorvat::Source::Memory(p12), "nope", false},
      {"a path given as content", zorvat::Source::Memory(pemPath), "", false},
      {"junk", zorvat::Source::Memory("junk"), "", false},
      {"empty", zorvat::Source::Memory(""), "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error = "stale";
    X509Ptr loaded = zorvat::LoadCert(c.source, c.password, error);
    EXPECT_EQ(loaded != nullptr, c.loads);
    if (loaded) {
      EXPECT_EQ(X509_cmp(loaded.get(), cert), 0);
    }
    EXPECT_EQ(error.empty(), c.loads) << error;
  }
  EXPECT_TRUE(zorvat::IsCert(zorvat::Source::Memory(pem)));
  EXPECT_FALSE(zorvat::IsCert(zorvat::Source::Memory(p12)));  // needs its password
  std::string missing = dir_ / "missing.pem", error;
  EXPECT_FALSE(zorvat::LoadCert(zorvat::Source::File(missing), "", error));
  EXPECT_EQ(error, "open CA certificate file error");
}

}  // namespace
}  // namespace corvane
