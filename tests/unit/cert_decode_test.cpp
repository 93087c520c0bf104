#include "crypto/cert_decode.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "fixtures/temp_dir.h"
#include "fixtures/test_pki.h"

namespace corvane {
namespace {

std::string Base64Lines(const std::string& der) {
  std::string out(4 * ((der.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(der.data()),
                          static_cast<int>(der.size()));
  out.resize(static_cast<std::size_t>(n));
  for (std::size_t i = 64; i < out.size(); i += 66) out.insert(i, "\r\n");
  return out;
}

TEST(CertDecode, AcceptsPemBareBase64AndDer) {
  test::KeyedCert cert = test::Issue(test::CertSpec{}, nullptr);
  std::string der = test::ToDer(cert.cert.get());
  const std::string forms[] = {
      test::ToPem(cert.cert.get()),
      "junk before\n" + test::ToPem(cert.cert.get()),
      Base64Lines(der),
      der,
      "-----BEGIN CERTIFICATE-----\r\n" + Base64Lines(der) + "\r\n-----END CERTIFICATE-----\r\n",
  };
  for (const std::string& form : forms) {
    X509Ptr decoded = CertFromText(form);
    EXPECT_EQ(X509_cmp(decoded.get(), cert.cert.get()), 0);
  }
}

TEST(CertDecode, RefusesWhatHoldsNoCertificate) {
  test::KeyedCert cert = test::Issue(test::CertSpec{}, nullptr);
  std::string der = test::ToDer(cert.cert.get());
  const std::string bad[] = {"", "hello",
                             "-----BEGIN CERTIFICATE-----\n!!!\n-----END CERTIFICATE-----",
                             der.substr(0, der.size() / 2), "QUJD"};
  for (const std::string& bytes : bad) EXPECT_THROW(CertFromText(bytes), CryptoError);
  test::TempDir dir;
  EXPECT_THROW(CertFromFile(dir / "missing.cer"), CryptoError);
  EXPECT_THROW(CertFromFile(dir.path()), CryptoError);
  test::WriteFileBytes(dir / "good.cer", der);
  EXPECT_NE(CertFromFile(dir / "good.cer"), nullptr);
}

}  // namespace
}  // namespace corvane
