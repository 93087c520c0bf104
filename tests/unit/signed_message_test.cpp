#include "crypto/signed_message.h"

#include <gtest/gtest.h>

#include "crypto/x509_names.h"
#include "fixtures/pkcs7_samples.h"

namespace corvane {
namespace {

using test::KeyedCert;

// The SignerInfo without its unauthenticated attributes: what the signature covers and is.
std::string SignedPartsOfSigner(const std::string& message) {
  der::Node signer = der::Raw(SignedMessage::Decode(message).SignerInfo(0));
  der::Expand(signer);
  std::string out;
  for (const der::Node& child : signer.children)
    if (child.tag != der::ContextConstructed(1)) out += der::Encode(child);
  return out;
}

class SignedMessageTest : public ::testing::Test {
 protected:
  KeyedCert signer_ = test::Issue(test::CertSpec{}, nullptr);
  std::string message_ = test::MakeSignedData(signer_, "payload");
};

TEST_F(SignedMessageTest, UntouchedMessageEncodesByteForByte) {
  SignedMessage message = SignedMessage::Decode(message_);
  EXPECT_EQ(message.Encode(), message_);
  EXPECT_EQ(message.SignerCount(), 1u);
  EXPECT_EQ(message.ContentType(), kOidData);
  ASSERT_EQ(message.Certificates().size(), 1u);
  EXPECT_EQ(message.Certificates()[0], CertDer(signer_.cert.get()));
  EXPECT_FALSE(message.EncryptedDigest().empty());
}

TEST_F(SignedMessageTest, CertificatesAreAddedOnceInOrder) {
  KeyedCert a = test::NewRoot("A"), b = test::NewRoot("B");
  SignedMessage message = SignedMessage::Decode(message_);
  EXPECT_TRUE(AddCertToSignature(message, CertDer(a.cert.get())));
  EXPECT_TRUE(AddCertToSignature(message, CertDer(b.cert.get())));
  EXPECT_FALSE(AddCertToSignature(message, CertDer(a.cert.get())));
  SignedMessage again = SignedMessage::Decode(message.Encode());
  EXPECT_EQ(again.Certificates(),
            (std::vector<std::string>{CertDer(signer_.cert.get()), CertDer(a.cert.get()),
                                      CertDer(b.cert.get())}));
  EXPECT_EQ(SignedPartsOfSigner(message.Encode()), SignedPartsOfSigner(message_));
}

TEST_F(SignedMessageTest, MessageWithoutCertificatesGetsACertificateSet) {
  BioPtr in(BIO_new_mem_buf("x", 1));
  Pkcs7Ptr p7(PKCS7_sign(signer_.cert.get(), signer_.key.get(), nullptr, in.get(),
                         PKCS7_BINARY | PKCS7_NOCERTS));
  unsigned char* der = nullptr;
  int n = i2d_PKCS7(p7.get(), &der);
  std::string bare(reinterpret_cast<char*>(der), static_cast<std::size_t>(n));
  OPENSSL_free(der);
  SignedMessage message = SignedMessage::Decode(bare);
  EXPECT_TRUE(message.Certificates().empty());
  message.AddCertificate(CertDer(signer_.cert.get()));
  std::string encoded = message.Encode();
  const auto* p = reinterpret_cast<const unsigned char*>(encoded.data());
  Pkcs7Ptr parsed(d2i_PKCS7(nullptr, &p, static_cast<long>(encoded.size())));
  ASSERT_NE(parsed, nullptr) << "OpenSSL must still read the message";
  EXPECT_EQ(sk_X509_num(parsed->d.sign->cert), 1);
}

TEST_F(SignedMessageTest, NestedSignaturesAccumulateOlderFirstAndLeaveTheOuterSignedParts) {
  std::string inner1 = test::MakeSignedData(signer_, "one");
  std::string inner2 = test::MakeSignedData(signer_, "a longer second payload");
  std::string once = NestSignature(message_, inner1);
  std::string twice = NestSignature(once, inner2);
  std::vector<MessageAttribute> attributes =
      SignedMessage::Decode(twice).UnauthenticatedAttributes();
  ASSERT_EQ(attributes.size(), 1u);
  EXPECT_EQ(attributes[0].oid, kOidNestedSignature);
  EXPECT_EQ(attributes[0].values, (std::vector<std::string>{inner1, inner2}));
  EXPECT_EQ(SignedPartsOfSigner(twice), SignedPartsOfSigner(message_));
  // OpenSSL verifies the outer signature of the nested result.
  std::string encoded = twice;
  const auto* p = reinterpret_cast<const unsigned char*>(encoded.data());
  Pkcs7Ptr parsed(d2i_PKCS7(nullptr, &p, static_cast<long>(encoded.size())));
  ASSERT_NE(parsed, nullptr);
  X509_STORE* store = X509_STORE_new();
  EXPECT_EQ(PKCS7_verify(parsed.get(), nullptr, store, nullptr, nullptr, PKCS7_NOVERIFY), 1);
  X509_STORE_free(store);
}

TEST_F(SignedMessageTest, OtherUnauthenticatedAttributesKeepTheirPlace) {
  SignedMessage message = SignedMessage::Decode(message_);
  message.SetUnauthenticatedAttributes(0, {{"1.2.3.4", {der::Encode(der::Null())}}});
  std::string nested = NestSignature(message.Encode(), test::MakeSignedData(signer_, "n"));
  std::vector<MessageAttribute> attributes =
      SignedMessage::Decode(nested).UnauthenticatedAttributes();
  ASSERT_EQ(attributes.size(), 2u);
  EXPECT_EQ(attributes[0].oid, "1.2.3.4");
  EXPECT_EQ(attributes[1].oid, kOidNestedSignature);
  message.SetUnauthenticatedAttributes(0, {});
  EXPECT_EQ(message.Encode(), message_);
}

TEST(SignedMessageDecode, RefusesWhatIsNotASignedMessage) {
  KeyedCert signer = test::Issue(test::CertSpec{}, nullptr);
  std::string good = test::MakeSignedData(signer, "p");
  std::string badLength = good;
  badLength[1] = static_cast<char>(0x84);
  const std::string cases[] = {"",
                               "\x30",
                               "\x30\x00",
                               good.substr(0, good.size() - 1),
                               good + "x",
                               badLength,
                               test::ToDer(signer.cert.get()),
                               std::string("\x30\x80\x00\x00", 4)};
  for (const std::string& bytes : cases)
    EXPECT_THROW(SignedMessage::Decode(bytes), CryptoError) << bytes.size() << " bytes";
}

TEST(Der, ObjectIdentifiersRoundTrip) {
  for (const char* oid : {"1.2.840.113549.1.7.2", "1.3.6.1.4.1.311.2.4.1", "2.999.1", "0.9.2342"}) {
    EXPECT_EQ(der::OidText(der::Oid(oid)), oid);
  }
  EXPECT_THROW(der::Oid("1."), der::DerError);
  EXPECT_THROW(der::Oid("abc"), der::DerError);
  EXPECT_EQ(der::Encode(der::Primitive(der::kOctetString, std::string(300, 'a'))).substr(0, 4),
            std::string("\x04\x82\x01\x2c", 4));
}

}  // namespace
}  // namespace corvane
