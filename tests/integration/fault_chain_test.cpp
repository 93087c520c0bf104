// A token certificate whose issuing CA is only in the intermediate store and whose root is not
// trusted here: the signature still carries the CA, and the run is told the chain stops short.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "cert/cert_manager.h"
#include "cert/chain_completion.h"
#include "cert/chain_warning.h"
#include "cert/key_store.h"
#include "crypto/signed_message.h"
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

}  // namespace
}  // namespace corvane
