#include "csr/pkcs10_decode.h"

#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <climits>
#include <memory>
#include <vector>

#include "crypto/der.h"
#include "crypto/openssl_ptr.h"

namespace corvane {
namespace {

std::optional<std::string> DecodeBase64(std::string_view text) {
  std::string compact;
  for (char c : text) {
    if (c == ' ' || c == '\r' || c == '\n' || c == '\t') continue;
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '+' || c == '/' || c == '=';
    if (!ok) return std::nullopt;
    compact.push_back(c);
  }
  if (compact.empty() || compact.size() % 4 != 0 || compact.size() > INT_MAX) return std::nullopt;
  std::string out(compact.size() / 4 * 3, '\0');
  int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(compact.data()),
                          static_cast<int>(compact.size()));
  if (n < 0) return std::nullopt;
  std::size_t padding = compact.back() == '=' ? (compact[compact.size() - 2] == '=' ? 2 : 1) : 0;
  out.resize(static_cast<std::size_t>(n) - padding);
  return out;
}

int NidOf(const der::Node& oid) {
  std::string dotted = der::OidText(oid);
  return OBJ_txt2nid(dotted.c_str());
}

// The attribute's name in the comma-separated form of a distinguished name.
std::string AttributeName(const der::Node& oid) {
  int nid = NidOf(oid);
  switch (nid) {
    case NID_pkcs9_emailAddress:
      return "E";
    case NID_stateOrProvinceName:
      return "S";
    case NID_undef:
      return "OID." + der::OidText(oid);
    default:
      return OBJ_nid2sn(nid);
  }
}

std::optional<std::string> ValueText(const der::Node& value) {
  std::string encoded = der::Encode(value);
  const auto* p = reinterpret_cast<const unsigned char*>(encoded.data());
  std::unique_ptr<ASN1_STRING, OpenSslDeleter<ASN1_STRING, ASN1_STRING_free>> string(
      d2i_ASN1_PRINTABLE(nullptr, &p, static_cast<long>(encoded.size())));
  if (!string) return std::nullopt;
  unsigned char* utf8 = nullptr;
  int n = ASN1_STRING_to_UTF8(&utf8, string.get());
  if (n < 0) return std::nullopt;
  std::string text(reinterpret_cast<const char*>(utf8), static_cast<std::size_t>(n));
  OPENSSL_free(utf8);
  // Values holding the form's separators are quoted, inner quotes doubled.
  if (text.find_first_of(",+=\"<>#;\r\n") != std::string::npos || text.empty() ||
      text.front() == ' ' || text.back() == ' ') {
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
  }
  return text;
}

std::optional<std::string> SubjectText(der::Node& name) {
  std::vector<std::string> parts;
  der::Expand(name);
  for (der::Node& rdn : name.children) {
    if (rdn.tag != der::kSet) return std::nullopt;
    der::Expand(rdn);
    for (der::Node& attribute : rdn.children) {
      if (attribute.tag != der::kSequence) return std::nullopt;
      der::Expand(attribute);
      if (attribute.children.size() != 2 || attribute.children[0].tag != der::kOid)
        return std::nullopt;
      std::optional<std::string> value = ValueText(attribute.children[1]);
      if (!value) return std::nullopt;
      parts.push_back(AttributeName(attribute.children[0]) + "=" + *value);
    }
  }
  std::string text;
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
    if (!text.empty()) text += ", ";
    text += *it;
  }
  return text;
}

bool VerifySignature(EVP_PKEY* key, const EVP_MD* md, const std::string& signed_,
                     const std::string& signature) {
  EvpMdCtxPtr ctx(EVP_MD_CTX_new());
  return ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, md, nullptr, key) == 1 &&
         EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                          signature.size(), reinterpret_cast<const unsigned char*>(signed_.data()),
                          signed_.size()) == 1;
}

std::optional<Pkcs10Description> Describe(const std::string& request) {
  der::Node root = der::ParseExact(request);
  if (root.tag != der::kSequence) return std::nullopt;
  der::Expand(root);
  if (root.children.size() != 3) return std::nullopt;
  der::Node& info = root.children[0];
  der::Node& algorithm = root.children[1];
  der::Node& signatureBits = root.children[2];
  if (info.tag != der::kSequence || algorithm.tag != der::kSequence ||
      signatureBits.tag != der::kBitString)
    return std::nullopt;
  const std::string signedBytes = der::Encode(info);

  der::Expand(info);
  if (info.children.size() < 3 || info.children[0].tag != der::kInteger ||
      info.children[1].tag != der::kSequence || info.children[2].tag != der::kSequence)
    return std::nullopt;
  Pkcs10Description out;
  std::optional<std::string> subject = SubjectText(info.children[1]);
  if (!subject) return std::nullopt;
  out.subject = *subject;

  std::string spki = der::Encode(info.children[2]);
  const auto* p = reinterpret_cast<const unsigned char*>(spki.data());
  EvpPkeyPtr key(d2i_PUBKEY(nullptr, &p, static_cast<long>(spki.size())));
  if (!key) return std::nullopt;
  int keyType = EVP_PKEY_get_base_id(key.get());
  out.keyAlgorithm = keyType == EVP_PKEY_RSA   ? "RSA"
                     : keyType == EVP_PKEY_DSA ? "DSA"
                                               : EVP_PKEY_get0_type_name(key.get());
  out.keyBits = EVP_PKEY_get_bits(key.get());

  der::Expand(algorithm);
  if (algorithm.children.empty() || algorithm.children[0].tag != der::kOid) return std::nullopt;
  int signatureNid = NidOf(algorithm.children[0]);
  int digestNid = NID_undef, keyNid = NID_undef;
  if (!OBJ_find_sigid_algs(signatureNid, &digestNid, &keyNid) || digestNid == NID_undef ||
      keyNid != keyType)
    return std::nullopt;
  const EVP_MD* md = EVP_get_digestbynid(digestNid);
  std::string bits = der::ContentOf(signatureBits);
  if (!md || bits.size() < 2 || bits[0] != 0) return std::nullopt;
  if (!VerifySignature(key.get(), md, signedBytes, bits.substr(1))) return std::nullopt;

  std::string hash = OBJ_nid2ln(digestNid);
  out.signatureAlgorithm =
      keyType == EVP_PKEY_RSA ? hash + "WithRSAEncryption" : OBJ_nid2ln(signatureNid);
  return out;
}

}  // namespace

std::optional<Pkcs10Description> DescribeBase64Pkcs10(std::string_view base64) {
  std::optional<std::string> request = DecodeBase64(base64);
  if (!request) return std::nullopt;
  try {
    return Describe(*request);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace corvane
