#include "sign/authenticode_signer.h"

#include <openssl/err.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "crypto/der.h"
#include "crypto/openssl_ptr.h"
#include "crypto/signed_message.h"
#include "crypto/x509_names.h"
#include "sign/authenticode_content.h"
#include "sign/sign_result.h"
#include "sign/subject_format.h"

namespace corvane {
namespace {

using der::Node;

Node AlgorithmWithNull(const char* oid) {
  return der::Constructed(der::kSequence, {der::Oid(oid), der::Null()});
}

Node Attribute(const char* oid, Node value) {
  return der::Constructed(der::kSequence,
                          {der::Oid(oid), der::Constructed(der::kSet, {std::move(value)})});
}

std::string Digest(const EVP_MD* md, const std::string& data) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(data.data(), data.size(), out, &size, md, nullptr);
  return std::string(reinterpret_cast<char*>(out), size);
}

Node IssuerAndSerial(X509* cert) {
  unsigned char* name = nullptr;
  int nameLength = i2d_X509_NAME(X509_get_issuer_name(cert), &name);
  unsigned char* serial = nullptr;
  int serialLength = i2d_ASN1_INTEGER(X509_get_serialNumber(cert), &serial);
  std::string nameDer(reinterpret_cast<char*>(name),
                      static_cast<std::size_t>(std::max(nameLength, 0)));
  std::string serialDer(reinterpret_cast<char*>(serial),
                        static_cast<std::size_t>(std::max(serialLength, 0)));
  OPENSSL_free(name);
  OPENSSL_free(serial);
  return der::Constructed(der::kSequence, {der::Raw(nameDer), der::Raw(serialDer)});
}

// Signs with the key; the result code tells a refused algorithm from other failures.
std::uint32_t SignBytes(EVP_PKEY* key, HashAlgorithm algorithm, const std::string& data,
                        std::string& out) {
  EvpMdCtxPtr ctx(EVP_MD_CTX_new());
  ERR_clear_error();
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, HashMd(algorithm), nullptr, key) != 1)
    return kBadAlgorithm;
  std::size_t size = 0;
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  if (EVP_DigestSign(ctx.get(), nullptr, &size, bytes, data.size()) != 1)
    return kKeyProviderFailure;
  out.assign(size, '\0');
  if (EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &size, bytes,
                     data.size()) != 1) {
    unsigned long error = ERR_peek_last_error();
    int reason = ERR_GET_REASON(error);
    return reason == EVP_R_UNSUPPORTED_ALGORITHM || reason == ERR_R_UNSUPPORTED
               ? kBadAlgorithm
               : kKeyProviderFailure;
  }
  out.resize(size);
  return kSignOk;
}

}  // namespace

std::string SignatureAlgorithmDer(EVP_PKEY* key, HashAlgorithm algorithm) {
  if (EVP_PKEY_get_base_id(key) == EVP_PKEY_EC) {
    const char* oid = "1.2.840.10045.4.1";  // ecdsa-with-SHA1
    switch (algorithm) {
      case HashAlgorithm::Sha256:
        oid = "1.2.840.10045.4.3.2";
        break;
      case HashAlgorithm::Sha384:
        oid = "1.2.840.10045.4.3.3";
        break;
      case HashAlgorithm::Sha512:
        oid = "1.2.840.10045.4.3.4";
        break;
      case HashAlgorithm::Sha1:
        break;
    }
    return der::Encode(der::Constructed(der::kSequence, {der::Oid(oid)}));
  }
  return der::Encode(AlgorithmWithNull("1.2.840.113549.1.1.1"));
}

std::uint32_t BuildSignedContent(const char* contentType, const std::string& content,
                                 const SignerCertificate& signer, HashAlgorithm algorithm,
                                 std::string& signature) {
  if (!signer.certificate || !signer.key) return kGenericFailure;
  const EVP_MD* md = HashMd(algorithm);

  // Authenticated attributes, in DER order of their encodings as a SET OF requires.
  std::vector<std::string> attributes = {
      der::Encode(Attribute(kOidContentType, der::Oid(contentType))),
      der::Encode(Attribute(kOidSpcSpOpusInfo, der::Constructed(der::kSequence, {}))),
      der::Encode(
          Attribute(kOidSpcStatementType,
                    der::Constructed(der::kSequence, {der::Oid(kOidSpcIndividualCodeSigning)}))),
      der::Encode(Attribute(
          kOidMessageDigest,
          der::Primitive(der::kOctetString, Digest(md, IndirectDataSignedBytes(content))))),
  };
  std::sort(attributes.begin(), attributes.end());
  std::vector<Node> attributeNodes;
  for (const std::string& a : attributes) attributeNodes.push_back(der::Raw(a));
  Node signedAttributes = der::Constructed(der::kSet, attributeNodes);

  std::string encryptedDigest;
  if (std::uint32_t code =
          SignBytes(signer.key, algorithm, der::Encode(signedAttributes), encryptedDigest))
    return code;

  signedAttributes.tag = der::ContextConstructed(0);
  Node signerInfo = der::Constructed(
      der::kSequence,
      {der::Primitive(der::kInteger, std::string(1, '\x01')), IssuerAndSerial(signer.certificate),
       AlgorithmWithNull(HashOid(algorithm)), std::move(signedAttributes),
       der::Raw(SignatureAlgorithmDer(signer.key, algorithm)),
       der::Primitive(der::kOctetString, encryptedDigest)});

  std::vector<Node> certificates{der::Raw(CertDer(signer.certificate))};
  if (signer.addChain)
    for (X509* cert : signer.chain) certificates.push_back(der::Raw(CertDer(cert)));

  Node signedData = der::Constructed(
      der::kSequence,
      {der::Primitive(der::kInteger, std::string(1, '\x01')),
       der::Constructed(der::kSet, {AlgorithmWithNull(HashOid(algorithm))}),
       der::Constructed(der::kSequence,
                        {der::Oid(contentType),
                         der::Constructed(der::ContextConstructed(0), {der::Raw(content)})}),
       der::Constructed(der::ContextConstructed(0), std::move(certificates)),
       der::Constructed(der::kSet, {std::move(signerInfo)})});
  signature = der::Encode(der::Constructed(
      der::kSequence, {der::Oid(kOidSignedData),
                       der::Constructed(der::ContextConstructed(0), {std::move(signedData)})}));
  return kSignOk;
}

namespace {

std::uint32_t SignFailure(const std::exception& failure) {
  if (const auto* io = dynamic_cast<const std::system_error*>(&failure)) {
    const int code = io->code().value();
    return code == EACCES || code == EBUSY || code == ETXTBSY || code == EPERM
               ? kErrorSharingViolation
               : kGenericFailure;
  }
  // A file of a known format that cannot be read as one.
  return kErrorBadExeFormat;
}

}  // namespace

std::uint32_t SignerSignEx(SubjectFormat& file, const SignerCertificate& signer,
                           HashAlgorithm algorithm, std::string& signature, SignatureWrite write) {
  try {
    file.Prepare();
    std::string der;
    if (std::uint32_t code = BuildSignedContent(file.ContentType(), file.SignedContent(algorithm),
                                                signer, algorithm, der))
      return code;
    if (write == SignatureWrite::IntoFile) file.WriteSignature(der);
    signature = std::move(der);
    return kSignOk;
  } catch (const std::exception& e) {
    return SignFailure(e);
  }
}

std::uint32_t SignerSignEx(const std::string& path, const SignerCertificate& signer,
                           HashAlgorithm algorithm, std::string& signature, SignatureWrite write) {
  std::unique_ptr<SubjectFormat> file;
  try {
    file = DetectSubjectFormat(path);
  } catch (const std::exception& e) {
    return SignFailure(e);
  }
  if (!file) return kTrustSubjectFormUnknown;
  return SignerSignEx(*file, signer, algorithm, signature, write);
}

}  // namespace corvane
