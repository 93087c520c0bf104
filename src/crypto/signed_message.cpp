#include "crypto/signed_message.h"

#include <cstring>

namespace corvane {
namespace {

using der::Node;

// SignedData: version, digestAlgorithms, contentInfo, [0] certificates, [1] crls, signerInfos.
constexpr std::uint8_t kCertificatesTag = der::ContextConstructed(0);
constexpr std::uint8_t kUnauthenticatedTag = der::ContextConstructed(1);

std::size_t SignerInfosIndex(const Node& signedData) {
  for (std::size_t i = signedData.children.size(); i-- > 0;)
    if (signedData.children[i].tag == der::kSet && i >= 3) return i;
  throw der::DerError("no signer infos");
}

const Node* FindChild(const Node& node, std::uint8_t tag) {
  for (const Node& child : node.children)
    if (child.tag == tag) return &child;
  return nullptr;
}

MessageAttribute ReadAttribute(Node attribute) {
  der::Expand(attribute);
  if (attribute.tag != der::kSequence || attribute.children.size() != 2)
    throw der::DerError("bad attribute");
  MessageAttribute out;
  out.oid = der::OidText(attribute.children[0]);
  Node& values = attribute.children[1];
  if (values.tag != der::kSet) throw der::DerError("bad attribute values");
  der::Expand(values);
  for (const Node& value : values.children) out.values.push_back(der::Encode(value));
  return out;
}

Node WriteAttribute(const MessageAttribute& attribute) {
  std::vector<Node> values;
  for (const std::string& value : attribute.values) values.push_back(der::Raw(value));
  return der::Constructed(
      der::kSequence, {der::Oid(attribute.oid), der::Constructed(der::kSet, std::move(values))});
}

}  // namespace

SignedMessage SignedMessage::Decode(std::string_view bytes) {
  SignedMessage message;
  try {
    message.root_ = der::ParseExact(bytes);
    Node& root = message.root_;
    if (root.tag != der::kSequence) throw der::DerError("not a content info");
    if (der::OidText(der::Child(root, 0)) != kOidSignedData) throw der::DerError("not signed data");
    Node& explicitContent = der::Child(root, 1);
    if (explicitContent.tag != der::ContextConstructed(0)) throw der::DerError("no content");
    Node& signedData = der::Child(explicitContent, 0);
    if (signedData.tag != der::kSequence) throw der::DerError("bad signed data");
    der::Expand(signedData);
    if (signedData.children.size() < 4) throw der::DerError("short signed data");
    Node& signerInfos = signedData.children[SignerInfosIndex(signedData)];
    der::Expand(signerInfos);
    if (signerInfos.children.empty()) throw der::DerError("no signer");
    for (Node& signer : signerInfos.children) {
      if (signer.tag != der::kSequence) throw der::DerError("bad signer info");
      der::Expand(signer);
      if (signer.children.size() < 5) throw der::DerError("short signer info");
    }
  } catch (const der::DerError&) {
    throw CryptoError("not a signed message");
  }
  return message;
}

std::string SignedMessage::Encode() const { return der::Encode(root_); }

Node& SignedMessage::SignedData() { return root_.children[1].children[0]; }
const Node& SignedMessage::SignedDataConst() const { return root_.children[1].children[0]; }

Node& SignedMessage::Signer(std::size_t index) {
  Node& signedData = SignedData();
  Node& infos = signedData.children[SignerInfosIndex(signedData)];
  if (index >= infos.children.size()) throw CryptoError("no signer with that index");
  return infos.children[index];
}

const Node& SignedMessage::SignerConst(std::size_t index) const {
  const Node& signedData = SignedDataConst();
  const Node& infos = signedData.children[SignerInfosIndex(signedData)];
  if (index >= infos.children.size()) throw CryptoError("no signer with that index");
  return infos.children[index];
}

std::vector<std::string> SignedMessage::Certificates() const {
  std::vector<std::string> out;
  const Node* certs = FindChild(SignedDataConst(), kCertificatesTag);
  if (!certs) return out;
  Node copy = *certs;
  try {
    der::Expand(copy);
  } catch (const der::DerError&) {
    throw CryptoError("the certificate set does not parse");
  }
  for (const Node& cert : copy.children) out.push_back(der::Encode(cert));
  return out;
}

void SignedMessage::AddCertificate(std::string_view certDer) {
  Node cert;
  try {
    cert = der::Raw(certDer);
  } catch (const der::DerError&) {
    throw CryptoError("the certificate does not parse");
  }
  Node& signedData = SignedData();
  for (Node& child : signedData.children) {
    if (child.tag == kCertificatesTag) {
      der::Expand(child);
      child.children.push_back(std::move(cert));
      return;
    }
  }
  // No certificate set yet: it goes right after the encapsulated content info.
  signedData.children.insert(signedData.children.begin() + 3,
                             der::Constructed(kCertificatesTag, {std::move(cert)}));
}

std::size_t SignedMessage::SignerCount() const {
  const Node& signedData = SignedDataConst();
  return signedData.children[SignerInfosIndex(signedData)].children.size();
}

std::string SignedMessage::SignerInfo(std::size_t index) const {
  return der::Encode(SignerConst(index));
}

std::string SignedMessage::EncryptedDigest(std::size_t index) const {
  const Node& signer = SignerConst(index);
  for (const Node& child : signer.children)
    if (child.tag == der::kOctetString) return der::ContentOf(child);
  throw CryptoError("the signer has no signature value");
}

std::vector<MessageAttribute> SignedMessage::UnauthenticatedAttributes(std::size_t index) const {
  std::vector<MessageAttribute> out;
  const Node* set = FindChild(SignerConst(index), kUnauthenticatedTag);
  if (!set) return out;
  try {
    Node copy = *set;
    der::Expand(copy);
    for (const Node& attribute : copy.children) out.push_back(ReadAttribute(attribute));
  } catch (const der::DerError&) {
    throw CryptoError("the unauthenticated attributes do not parse");
  }
  return out;
}

void SignedMessage::SetUnauthenticatedAttributes(std::size_t index,
                                                 const std::vector<MessageAttribute>& attributes) {
  Node& signer = Signer(index);
  auto& children = signer.children;
  for (auto it = children.begin(); it != children.end(); ++it) {
    if (it->tag == kUnauthenticatedTag) {
      children.erase(it);
      break;
    }
  }
  if (attributes.empty()) return;
  std::vector<Node> nodes;
  try {
    for (const MessageAttribute& attribute : attributes) nodes.push_back(WriteAttribute(attribute));
  } catch (const der::DerError&) {
    throw CryptoError("an attribute does not encode");
  }
  children.push_back(der::Constructed(kUnauthenticatedTag, std::move(nodes)));
}

std::string SignedMessage::ContentType() const {
  try {
    Node info = SignedDataConst().children[2];
    der::Expand(info);
    return der::OidText(der::ChildConst(info, 0));
  } catch (const der::DerError&) {
    throw CryptoError("the content type does not parse");
  }
}

std::string SignedMessage::ContentDer() const {
  try {
    Node info = SignedDataConst().children[2];
    der::Expand(info);
    if (info.children.size() < 2) return {};
    Node explicitContent = info.children[1];
    der::Expand(explicitContent);
    return der::Encode(der::ChildConst(explicitContent, 0));
  } catch (const der::DerError&) {
    throw CryptoError("the content does not parse");
  }
}

bool AddCertToSignature(SignedMessage& message, std::string_view certDer) {
  for (const std::string& existing : message.Certificates())
    if (existing.size() >= certDer.size() &&
        std::memcmp(existing.data(), certDer.data(), certDer.size()) == 0)
      return false;
  message.AddCertificate(certDer);
  return true;
}

std::string NestSignature(std::string_view outerDer, std::string_view innerDer) {
  SignedMessage outer = SignedMessage::Decode(outerDer);
  try {
    der::Raw(innerDer);
  } catch (const der::DerError&) {
    throw CryptoError("the nested signature does not parse");
  }
  std::vector<MessageAttribute> attributes = outer.UnauthenticatedAttributes(0);
  std::vector<std::string> values;
  for (auto it = attributes.begin(); it != attributes.end(); ++it) {
    if (it->oid == kOidNestedSignature) {
      values = it->values;
      attributes.erase(it);
      break;
    }
  }
  values.emplace_back(innerDer);
  attributes.push_back({kOidNestedSignature, std::move(values)});
  outer.SetUnauthenticatedAttributes(0, attributes);
  return outer.Encode();
}

}  // namespace corvane
