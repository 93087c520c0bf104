#include "sign/timestamp_verify.h"

#include <openssl/objects.h>
#include <openssl/ts.h>

#include <memory>

#include "crypto/der.h"

namespace corvane {
namespace {

using der::Node;

constexpr std::uint8_t kAuthenticatedTag = der::ContextConstructed(0);
constexpr std::uint8_t kSubjectKeyIdTag = der::ContextPrimitive(0);

using X509NamePtr = std::unique_ptr<X509_NAME, OpenSslDeleter<X509_NAME, X509_NAME_free>>;
using Asn1IntegerPtr =
    std::unique_ptr<ASN1_INTEGER, OpenSslDeleter<ASN1_INTEGER, ASN1_INTEGER_free>>;
using Asn1TimePtr = std::unique_ptr<ASN1_TIME, OpenSslDeleter<ASN1_TIME, ASN1_TIME_free>>;
using Asn1ObjectPtr = std::unique_ptr<ASN1_OBJECT, OpenSslDeleter<ASN1_OBJECT, ASN1_OBJECT_free>>;
using TstInfoPtr = std::unique_ptr<TS_TST_INFO, OpenSslDeleter<TS_TST_INFO, TS_TST_INFO_free>>;
using StoreCtxPtr =
    std::unique_ptr<X509_STORE_CTX, OpenSslDeleter<X509_STORE_CTX, X509_STORE_CTX_free>>;

void FreeCertStack(STACK_OF(X509) * stack) { sk_X509_pop_free(stack, X509_free); }
using CertStackPtr = std::unique_ptr<STACK_OF(X509), OpenSslDeleter<STACK_OF(X509), FreeCertStack>>;

const unsigned char* Bytes(std::string_view s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

X509Ptr ParseCert(std::string_view der) {
  const unsigned char* p = Bytes(der);
  X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  if (cert && p != Bytes(der) + der.size()) cert.reset();
  return cert;
}

// The digest named by an AlgorithmIdentifier node.
const EVP_MD* DigestOf(const Node& algorithm) {
  Node copy = algorithm;
  der::Expand(copy);
  const std::string oid = der::OidText(der::ChildConst(copy, 0));
  Asn1ObjectPtr object(OBJ_txt2obj(oid.c_str(), 1));
  if (!object) return nullptr;
  return EVP_get_digestbynid(OBJ_obj2nid(object.get()));
}

std::optional<std::string> Digest(const EVP_MD* md, std::string_view data) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!md || EVP_Digest(data.data(), data.size(), out, &length, md, nullptr) != 1) {
    return std::nullopt;
  }
  return std::string(reinterpret_cast<char*>(out), length);
}

std::optional<std::time_t> TimeOf(const ASN1_TIME* time) {
  std::tm tm{};
  if (!time || ASN1_TIME_to_tm(time, &tm) != 1) return std::nullopt;
  return timegm(&tm);
}

// A UTCTime or GeneralizedTime value, DER.
std::optional<std::time_t> ParseTime(std::string_view der) {
  const unsigned char* p = Bytes(der);
  Asn1TimePtr time(d2i_ASN1_TIME(nullptr, &p, static_cast<long>(der.size())));
  if (!time || p != Bytes(der) + der.size()) return std::nullopt;
  return TimeOf(time.get());
}

// Whether `cert` is the one a SignerInfo's sid node names.
bool Names(const Node& sid, X509* cert) {
  if (sid.tag == kSubjectKeyIdTag) {
    const ASN1_OCTET_STRING* keyId = X509_get0_subject_key_id(cert);
    const std::string wanted = der::ContentOf(sid);
    return keyId && static_cast<std::size_t>(ASN1_STRING_length(keyId)) == wanted.size() &&
           std::string_view(reinterpret_cast<const char*>(ASN1_STRING_get0_data(keyId)),
                            wanted.size()) == wanted;
  }
  if (sid.tag != der::kSequence) return false;
  Node copy = sid;
  der::Expand(copy);
  const std::string nameDer = der::Encode(der::ChildConst(copy, 0));
  const std::string serialDer = der::Encode(der::ChildConst(copy, 1));
  const unsigned char* p = Bytes(nameDer);
  X509NamePtr name(d2i_X509_NAME(nullptr, &p, static_cast<long>(nameDer.size())));
  p = Bytes(serialDer);
  Asn1IntegerPtr serial(d2i_ASN1_INTEGER(nullptr, &p, static_cast<long>(serialDer.size())));
  return name && serial && X509_NAME_cmp(name.get(), X509_get_issuer_name(cert)) == 0 &&
         ASN1_INTEGER_cmp(serial.get(), X509_get0_serialNumber(cert)) == 0;
}

bool VerifySignature(EVP_PKEY* key, const EVP_MD* md, std::string_view data,
                     std::string_view signature) {
  EvpMdCtxPtr ctx(EVP_MD_CTX_new());
  return ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, md, nullptr, key) == 1 &&
         EVP_DigestVerify(ctx.get(), Bytes(signature), signature.size(), Bytes(data),
                          data.size()) == 1;
}

// The chain from `leaf` to a root of `trust`, verified for time stamping at `at`; DER each.
std::optional<std::vector<std::string>> VerifyChain(X509* leaf,
                                                    const std::vector<std::string>& others,
                                                    X509_STORE* trust, std::time_t at) {
  if (!trust || !leaf) return std::nullopt;
  CertStackPtr untrusted(sk_X509_new_null());
  if (!untrusted) return std::nullopt;
  for (const std::string& der : others) {
    X509Ptr cert = ParseCert(der);
    if (cert && sk_X509_push(untrusted.get(), cert.get()) > 0) cert.release();
  }
  StoreCtxPtr ctx(X509_STORE_CTX_new());
  if (!ctx || X509_STORE_CTX_init(ctx.get(), trust, leaf, untrusted.get()) != 1) {
    return std::nullopt;
  }
  // Set on the context's own parameters: a purpose the store already carries (code signing,
  // for the verifier's main chain) must not win.
  X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx.get());
  if (X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_TIMESTAMP_SIGN) != 1 ||
      X509_VERIFY_PARAM_set_trust(param, X509_TRUST_TSA) != 1) {
    return std::nullopt;
  }
  X509_STORE_CTX_set_time(ctx.get(), 0, at);
  if (X509_verify_cert(ctx.get()) != 1) return std::nullopt;
  std::vector<std::string> chain;
  STACK_OF(X509)* verified = X509_STORE_CTX_get0_chain(ctx.get());
  for (int i = 0; i < sk_X509_num(verified); ++i) {
    unsigned char* out = nullptr;
    const int n = i2d_X509(sk_X509_value(verified, i), &out);
    if (n <= 0) return std::nullopt;
    chain.emplace_back(reinterpret_cast<char*>(out), static_cast<std::size_t>(n));
    OPENSSL_free(out);
  }
  return chain;
}

std::string CertDerOf(X509* cert) {
  unsigned char* out = nullptr;
  const int n = i2d_X509(cert, &out);
  if (n <= 0) return {};
  std::string der(reinterpret_cast<char*>(out), static_cast<std::size_t>(n));
  OPENSSL_free(out);
  return der;
}

std::optional<TimestampInfo> VerifyCountersignature(std::string_view signerInfoDer,
                                                    std::string_view signatureValue,
                                                    const std::vector<std::string>& certs,
                                                    X509_STORE* trust) {
  std::optional<SignerCheck> check = CheckSignerInfo(signerInfoDer, signatureValue, certs);
  if (!check || !check->signingTime) return std::nullopt;
  std::optional<std::vector<std::string>> chain =
      VerifyChain(check->cert.get(), certs, trust, *check->signingTime);
  if (!chain) return std::nullopt;
  return TimestampInfo{*check->signingTime, CertDerOf(check->cert.get()), std::move(*chain), false};
}

std::optional<TimestampInfo> VerifyToken(std::string_view tokenDer, std::string_view signatureValue,
                                         X509_STORE* trust) {
  std::time_t time = 0;
  X509Ptr tsaCert;
  std::vector<std::string> certs;
  if (!CheckRfc3161Token(tokenDer, signatureValue, &time, &tsaCert, &certs)) return std::nullopt;
  std::optional<std::vector<std::string>> chain = VerifyChain(tsaCert.get(), certs, trust, time);
  if (!chain) return std::nullopt;
  return TimestampInfo{time, CertDerOf(tsaCert.get()), std::move(*chain), true};
}

}  // namespace

std::optional<SignerCheck> CheckSignerInfo(std::string_view signerInfoDer, std::string_view content,
                                           const std::vector<std::string>& certificatesDer,
                                           const char* contentType) {
  try {
    Node signer = der::ParseExact(signerInfoDer);
    if (signer.tag != der::kSequence) return std::nullopt;
    der::Expand(signer);
    // version, sid, digestAlgorithm, [0] authenticatedAttributes, signatureAlgorithm,
    // signature, [1] unauthenticatedAttributes
    if (signer.children.size() < 6) return std::nullopt;
    const Node& sid = signer.children[1];
    const Node& attributes = signer.children[3];
    const Node& signature = signer.children[5];
    if (attributes.tag != kAuthenticatedTag || signature.tag != der::kOctetString) {
      return std::nullopt;
    }
    const EVP_MD* md = DigestOf(signer.children[2]);
    if (!md) return std::nullopt;

    std::optional<std::string> messageDigest;
    std::optional<std::string> signedType;
    SignerCheck out;
    Node list = attributes;
    der::Expand(list);
    for (Node& attribute : list.children) {
      der::Expand(attribute);
      if (attribute.tag != der::kSequence || attribute.children.size() != 2) return std::nullopt;
      const std::string oid = der::OidText(attribute.children[0]);
      Node& values = attribute.children[1];
      der::Expand(values);
      if (values.tag != der::kSet || values.children.size() != 1) continue;
      const Node& value = values.children[0];
      if (oid == kOidMessageDigest && value.tag == der::kOctetString) {
        messageDigest = der::ContentOf(value);
      } else if (oid == kOidSigningTime) {
        out.signingTime = ParseTime(der::Encode(value));
      } else if (oid == kOidContentType && value.tag == der::kOid) {
        signedType = der::OidText(value);
      }
    }
    if (!messageDigest || Digest(md, content) != *messageDigest) return std::nullopt;
    if (contentType && signedType != contentType) return std::nullopt;

    for (const std::string& certDer : certificatesDer) {
      X509Ptr cert = ParseCert(certDer);
      if (!cert || !Names(sid, cert.get())) continue;
      EVP_PKEY* key = X509_get0_pubkey(cert.get());
      // The signature covers the attributes with their [0] tag replaced by SET.
      const std::string signedBytes = der::EncodeTlv(der::kSet, der::ContentOf(attributes));
      if (!key || !VerifySignature(key, md, signedBytes, der::ContentOf(signature))) {
        return std::nullopt;
      }
      out.cert = std::move(cert);
      return out;
    }
  } catch (...) {
  }
  return std::nullopt;
}

bool CheckRfc3161Token(std::string_view tokenDer, std::string_view signatureValue,
                       std::time_t* time, X509Ptr* tsaCert, std::vector<std::string>* certsDer) {
  try {
    const SignedMessage token = SignedMessage::Decode(tokenDer);
    if (token.ContentType() != kOidTstInfo) return false;
    const Node content = der::Raw(token.ContentDer());
    if (content.tag != der::kOctetString) return false;
    const std::string tstDer = der::ContentOf(content);

    const unsigned char* p = Bytes(tstDer);
    TstInfoPtr tst(d2i_TS_TST_INFO(nullptr, &p, static_cast<long>(tstDer.size())));
    if (!tst || p != Bytes(tstDer) + tstDer.size()) return false;
    TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(tst.get());
    const ASN1_OBJECT* algorithm = nullptr;
    X509_ALGOR_get0(&algorithm, nullptr, nullptr, TS_MSG_IMPRINT_get_algo(imprint));
    const ASN1_OCTET_STRING* hashed = TS_MSG_IMPRINT_get_msg(imprint);
    const std::optional<std::string> expected =
        Digest(EVP_get_digestbynid(OBJ_obj2nid(algorithm)), signatureValue);
    if (!expected || !hashed ||
        std::string_view(reinterpret_cast<const char*>(ASN1_STRING_get0_data(hashed)),
                         static_cast<std::size_t>(ASN1_STRING_length(hashed))) != *expected) {
      return false;
    }
    const std::optional<std::time_t> genTime = TimeOf(TS_TST_INFO_get_time(tst.get()));
    if (!genTime) return false;

    std::vector<std::string> certs = token.Certificates();
    std::optional<SignerCheck> check =
        CheckSignerInfo(token.SignerInfo(0), tstDer, certs, kOidTstInfo);
    if (!check) return false;
    if (time) *time = *genTime;
    if (tsaCert) *tsaCert = std::move(check->cert);
    if (certsDer) *certsDer = std::move(certs);
    return true;
  } catch (...) {
    return false;
  }
}

std::optional<TimestampInfo> VerifyTimestamp(const SignedMessage& message, std::size_t signer,
                                             X509_STORE* trust) {
  try {
    const std::string signatureValue = message.EncryptedDigest(signer);
    const std::vector<std::string> certs = message.Certificates();
    for (const MessageAttribute& attribute : message.UnauthenticatedAttributes(signer)) {
      for (const std::string& value : attribute.values) {
        std::optional<TimestampInfo> info;
        if (attribute.oid == kOidCounterSignature) {
          info = VerifyCountersignature(value, signatureValue, certs, trust);
        } else if (attribute.oid == kOidRfc3161Timestamp) {
          info = VerifyToken(value, signatureValue, trust);
        }
        if (info) return info;
      }
    }
  } catch (...) {
  }
  return std::nullopt;
}

}  // namespace corvane
