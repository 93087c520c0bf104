#include <gtest/gtest.h>

#include "base/status.h"
#include "cert/cert_manager.h"
#include "crypto/trust_store.h"
#include "fixtures/signing_environment.h"
#include "sign/authenticode_verifier.h"
#include "sign/file_sign.h"

namespace corvane {
namespace {

// Signs a copy of an image with a leaf issued by issuing-a1 under `spec` (and, when given,
// with `key` as the leaf's key) and returns the outcome and the digest algorithm used.
struct Outcome {
  std::string status;
  std::string digest;
};

class HashChoice : public ::testing::Test {
 protected:
  Outcome SignWith(test::KeyedCert leaf) {
    test::KeyedCert ca = test::Authority("issuing-a1");
    std::string pfx = env_.dir() / "h.pfx";
    test::WriteFileBytes(pfx,
                         test::MakePfx({"pw", {leaf.cert.get(), ca.cert.get()}, leaf.key.get()}));
    CertManager manager;
    manager.SetIssuerDownloader(
        [](const std::string&, const std::string&) { RaiseStatus(StatusCode::Undefined); });
    manager.LoadPfx(pfx, "pw");
    manager.BuildChain();
    manager.RecognizeOwnCa();
    std::string path = env_.CopyImage("console-x64.exe");
    std::string before = test::ReadFileBytes(path);
    std::unique_ptr<CFileSign> signer = CreateFileSigner("peType");
    signer->SetCertManager(&manager);
    Outcome outcome{"succeed", ""};
    try {
      signer->SignFile(path, path, false);
    } catch (const std::exception& e) {
      outcome.status = e.what();
      EXPECT_EQ(test::ReadFileBytes(path), before) << "a failed signing leaves the file as it was";
      return outcome;
    }
    X509StorePtr store = BuildTrustStore({env_.trustBundle()});
    outcome.digest = VerifyTrust(path, store.get()).primary.digestAlgorithm;
    return outcome;
  }
  test::KeyedCert Leaf(const EVP_MD* digest) {
    test::KeyedCert ca = test::Authority("issuing-a1");
    test::CertSpec spec;
    spec.digest = digest;
    return test::Issue(spec, &ca);
  }
  test::SigningEnvironment env_;
};

TEST_F(HashChoice, TheCertificatesSignatureAlgorithmDecides) {
  struct Case {
    const EVP_MD* certDigest;
    const char* expected;
  } cases[] = {{EVP_sha1(), "sha1"},
               {EVP_sha256(), "sha256"},
               {EVP_sha384(), "sha384"},
               {EVP_sha512(), "sha512"}};
  for (const Case& c : cases) {
    Outcome outcome = SignWith(Leaf(c.certDigest));
    EXPECT_EQ(outcome.status, "succeed");
    EXPECT_EQ(outcome.digest, c.expected);
  }
}

TEST_F(HashChoice, AKeyThatRefusesSha256FailsWithTheAlgorithmStatus) {
  // An Ed25519 key signs only its own way, so it refuses the SHA-256 probe as a key on a
  // token that lacks the mechanism does.
  test::KeyedCert leaf = Leaf(EVP_sha256());
  EvpPkeyPtr ed(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
  SignerCertificate signer{leaf.cert.get(), ed.get(), {}, false};
  try {
    ChooseHashAlgorithm(signer);
    ADD_FAILURE() << "no failure";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "algorithm is not supported");
  }
  // A SHA-1 certificate never probes.
  test::KeyedCert sha1 = Leaf(EVP_sha1());
  SignerCertificate sha1Signer{sha1.cert.get(), ed.get(), {}, false};
  EXPECT_EQ(ChooseHashAlgorithm(sha1Signer), HashAlgorithm::Sha1);
  // The result codes map to their statuses.
  struct Case {
    std::uint32_t code;
    const char* status;
  } cases[] = {{0x800B0003, "file type is not supported"},
               {0x800700C1, "file type is not supported"},
               {0x8010006E, "user cancel the operation"},
               {0x800704C7, "user cancel the operation"},
               {0x80070020, "file is in use"},
               {0x80090008, "algorithm is not supported"}};
  for (const Case& c : cases) {
    try {
      CheckResult(c.code);
      ADD_FAILURE() << std::hex << c.code;
    } catch (const std::exception& e) {
      EXPECT_STREQ(e.what(), c.status);
    }
  }
  EXPECT_NO_THROW(CheckResult(0));
  EXPECT_NO_THROW(CheckResult(0x80004005));
}

}  // namespace
}  // namespace corvane
