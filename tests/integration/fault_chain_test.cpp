// A token certificate whose issuing CA is only in the intermediate store and whose root is not
// trusted here: the signature still carries the CA, and the run is told the chain stops short.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

#include "cert/cert_manager.h"
#include "cert/chain_completion.h"
#include "cert/chain_warning.h"
#include "cert/key_store.h"
#include "crypto/signed_message.h"
#include "crypto/trust_store.h"
#include "crypto/x509_names.h"
#include "fixtures/run_command.h"
#include "fixtures/scoped_env.h"
#include "fixtures/signing_environment.h"
#include "fixtures/token_signer.h"
#include "formats/pe/pe_image.h"
#include "sign/file_sign.h"

namespace corvane {
namespace {

TEST(FaultChains, AnIntermediateWithoutTrustedRootIsCarriedAndWarnedAbout) {
  test::SigningEnvironment env;
  test::TokenWorld world;
  test::TempDir config;
  test::ScopedEnv xdg("XDG_CONFIG_HOME", config.path());
  ::mkdir((config / "corvanecode").c_str(), 0755);
  ::mkdir((config / "corvanecode/intermediate").c_str(), 0755);

  test::KeyedCert root = test::NewRoot("Faraway Root");
  test::CertSpec caSpec;
  caSpec.commonName = "Faraway Issuing CA";
  caSpec.basicConstraints = test::BasicConstraints::Ca;
  test::KeyedCert ca = test::Issue(caSpec, &root);
  test::WriteFileBytes(config / "corvanecode/intermediate/faraway.pem", test::ToPem(ca.cert.get()));

  std::shared_ptr<KeyStore> store = world.OpenStore();
  TokenKey key = store->GenerateRsaKey(0, 2048, "code signing");
  X509Ptr cert = world.PutCert(*store, {}, ca, key.key, key.id);
  CertManager manager;
  manager.SetCertStore(store);
  manager.LoadFromStore({"", IssuerDisplayName(cert.get()), SerialHex(cert.get())});
  manager.BuildChain();
  ASSERT_EQ(manager.chain().size(), 1u);
  EXPECT_EQ(manager.chain()[0].subjectName, "Faraway Issuing CA");
  EXPECT_FALSE(ChainReachesTrustedRoot(cert.get(), manager.chain()));
  SkinTexts texts;
  texts.Set(kChainNotTrustedKey, "chain stops short");
  EXPECT_EQ(ChainWarningText(manager, texts), std::optional<std::string>("chain stops short"));
  manager.RecognizeOwnCa();

  std::string path = env.CopyImage("console-x64.exe");
  std::unique_ptr<CFileSign> signer = CreateFileSigner("peType");
  signer->SetCertManager(&manager);
  signer->SignFile(path, path, false);
  const std::vector<std::string> carried =
      SignedMessage::Decode(pe::ReadSignature(path)).Certificates();
  EXPECT_NE(std::find(carried.begin(), carried.end(), test::ToDer(ca.cert.get())), carried.end());
  EXPECT_NE(std::find(carried.begin(), carried.end(), test::ToDer(cert.get())), carried.end());

  // With its root trusted the same chain needs no warning.
  test::WriteFileBytes(config / "root.pem", test::ToPem(root.cert.get()));
  test::ScopedEnv trust("CORVANECODE_TRUST", config / "root.pem");
  EXPECT_TRUE(ChainReachesTrustedRoot(cert.get(), manager.chain()));
  EXPECT_EQ(ChainWarningText(manager, texts), std::nullopt);
}

TEST(FaultChains, CertInfoWarnsWhenTheChainReachesNoTrustedRoot) {
  test::TempDir dir;
  test::KeyedCert root = test::NewRoot("Faraway Root");
  test::CertSpec caSpec;
  caSpec.commonName = "Faraway Issuing CA";
  caSpec.basicConstraints = test::BasicConstraints::Ca;
  test::KeyedCert ca = test::Issue(caSpec, &root);
  test::KeyedCert leaf = test::Issue(test::CertSpec{}, &ca);
  const std::string pfx = dir / "faraway.pfx";
  test::WriteFileBytes(pfx,
                       test::MakePfx({"pw", {leaf.cert.get(), ca.cert.get()}, leaf.key.get()}));
  test::WriteFileBytes(dir / "root.pem", test::ToPem(root.cert.get()));
  const std::map<std::string, std::string> env = {{"CORVANECODE_PROGRAM_DIR", dir.path()},
                                                  {"LANG", "C"},
                                                  {"CORVANECODE_PFX_PASSWORD", "pw"},
                                                  {"XDG_CONFIG_HOME", dir.path()}};
  test::CommandResult r = test::RunCli({"cert-info", "--pfx", pfx}, env);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_NE(r.out.find("1. Faraway Issuing CA"), std::string::npos) << r.out;
  EXPECT_EQ(r.err,
            "Warning: The certificate chain does not reach a trusted root certificate, the "
            "signature may not be verified on other computers\n");

  std::map<std::string, std::string> trusted = env;
  trusted["CORVANECODE_TRUST"] = dir / "root.pem";
  r = test::RunCli({"cert-info", "--pfx", pfx}, trusted);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.err, "");
}

// The system's certificates are not parsed up front: a chain walk asks the trust store for each
// issuer by name. A root only the store holds still ends the chain, and every root of the
// system bundle is trusted through the hashed directory as it was through the bundle.
TEST(FaultChains, TrustedIssuersAreLookedUpByName) {
  test::TempDir dir;
  test::KeyedCert root = test::NewRoot("Hashed Root");
  test::CertSpec caSpec;
  caSpec.commonName = "Hashed Issuing CA";
  caSpec.basicConstraints = test::BasicConstraints::Ca;
  test::KeyedCert ca = test::Issue(caSpec, &root);
  test::KeyedCert leaf = test::Issue(test::CertSpec{}, &ca);
  char hashName[16];
  std::snprintf(hashName, sizeof hashName, "%08lx.0", X509_subject_name_hash(root.cert.get()));
  test::WriteFileBytes(dir / hashName, test::ToPem(root.cert.get()));
  X509StorePtr store(X509_STORE_new());
  X509_LOOKUP_add_dir(X509_STORE_add_lookup(store.get(), X509_LOOKUP_hash_dir()),
                      dir.path().c_str(), X509_FILETYPE_PEM);
  std::vector<X509Ptr> known;
  known.push_back(UpRef(ca.cert.get()));
  ChainList chain;
  CompleteChain(chain, leaf.cert.get(), known, store.get());
  ASSERT_EQ(chain.size(), 2u);
  EXPECT_EQ(chain[0].subjectName, "Hashed Issuing CA");
  EXPECT_EQ(chain[1].subjectName, "Hashed Root");

  test::ScopedEnv system("CORVANECODE_TRUST", "");
  const char* const kBundle = "/etc/ssl/certs/ca-certificates.crt";
  X509StorePtr trust = BuildDefaultTrustStore();
  X509StorePtr parsed(X509_STORE_new());
  ASSERT_EQ(X509_STORE_load_file(parsed.get(), kBundle), 1);
  const auto verifies = [](X509_STORE* roots, X509* cert) {
    std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> ctx(X509_STORE_CTX_new(),
                                                                        X509_STORE_CTX_free);
    X509_STORE_CTX_init(ctx.get(), roots, cert, nullptr);
    X509_STORE_CTX_set_flags(ctx.get(), X509_V_FLAG_NO_CHECK_TIME);
    X509_STORE_CTX_set_purpose(ctx.get(), X509_PURPOSE_ANY);
    return X509_verify_cert(ctx.get()) == 1;
  };
  BioPtr bundle(BIO_new_file(kBundle, "rb"));
  ASSERT_TRUE(bundle);
  int total = 0, trusted = 0;
  while (X509Ptr cert{PEM_read_bio_X509(bundle.get(), nullptr, nullptr, nullptr)}) {
    ++total;
    const bool byName = verifies(trust.get(), cert.get());
    trusted += byName;
    EXPECT_EQ(byName, verifies(parsed.get(), cert.get())) << SubjectDisplayName(cert.get());
  }
  EXPECT_GT(trusted, total / 2);
}

}  // namespace
}  // namespace corvane
