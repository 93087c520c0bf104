#include "cert/cross_cert.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "fixtures/temp_dir.h"
#include "fixtures/test_pki.h"

namespace corvane {
namespace {

using test::KeyedCert;

test::CertSpec Ca(const std::string& name) {
  test::CertSpec spec;
  spec.commonName = name;
  spec.basicConstraints = test::BasicConstraints::Ca;
  spec.extendedKeyUsage = false;
  return spec;
}

// The root's name and key, issued by `issuer`.
X509Ptr CrossOf(const KeyedCert& root, const KeyedCert& issuer) {
  X509Ptr cross(X509_dup(root.cert.get()));
  X509_set_issuer_name(cross.get(), X509_get_subject_name(issuer.cert.get()));
  X509_sign(cross.get(), issuer.key.get(), EVP_sha256());
  return cross;
}

std::string Base64(const std::string& der) {
  std::string out(4 * ((der.size() + 2) / 3) + 1, '\0');
  out.resize(static_cast<std::size_t>(EVP_EncodeBlock(
      reinterpret_cast<unsigned char*>(out.data()),
      reinterpret_cast<const unsigned char*>(der.data()), static_cast<int>(der.size()))));
  return out;
}

TEST(CrossCert, MatchesTheChainsRootByNameAndKeyFromTheKernelRootOnly) {
  test::TempDir dir;
  KeyedCert kernelRoot = test::Authority("kernel-root");
  KeyedCert root = test::Issue(Ca("Match Root"), nullptr);
  KeyedCert ca = test::Issue(Ca("Match CA"), &root);
  ChainList chain{MakeChainCert(ca.cert.get()), MakeChainCert(root.cert.get())};
  KeyedCert otherIssuer = test::Issue(Ca("Microsoft Code Verification Root Copy"), nullptr);
  KeyedCert sameNameOtherKey = test::Issue(Ca("Match Root"), nullptr);

  X509Ptr good = CrossOf(root, kernelRoot);
  const std::string der = test::ToDer(good.get());
  test::WriteFileBytes(dir / "good.pem", test::ToPem(good.get()));
  test::WriteFileBytes(dir / "good.cer", der);
  test::WriteFileBytes(dir / "good.b64", Base64(der));
  test::WriteFileBytes(dir / "other-issuer.cer", test::ToDer(CrossOf(root, otherIssuer).get()));
  test::WriteFileBytes(dir / "other-key.cer",
                       test::ToDer(CrossOf(sameNameOtherKey, kernelRoot).get()));
  test::WriteFileBytes(dir / "junk.cer", "junk");

  struct Case {
    std::string path;
    const ChainList* chain;
    const char* refusal;
  };
  ChainList empty;
  const Case cases[] = {
      {dir / "good.pem", &chain, ""},
      {dir / "good.cer", &chain, ""},
      {dir / "good.b64", &chain, ""},
      {"", &chain, "TipSelCrossCert"},
      {dir / "absent.cer", &chain, "TipNotExistCrossCert"},
      {dir.path(), &chain, "TipCertNotMatch"},
      {dir / "good.cer", &empty, "TipIncompVerifyInfo"},
      {dir / "other-issuer.cer", &chain, "TipCertNotMatch"},
      {dir / "other-key.cer", &chain, "TipCertNotMatch"},
      {dir / "junk.cer", &chain, "TipCertNotMatch"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CheckCrossCertChoice(c.path, *c.chain), c.refusal) << c.path;
}

}  // namespace
}  // namespace corvane
