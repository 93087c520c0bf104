#include "sign/authenticode_content.h"

#include "crypto/der.h"
#include "crypto/signed_message.h"

namespace corvane {
namespace {

using der::Node;

// "<<<Obsolete>>>" as a BMPString, the file name every Authenticode signer writes.
std::string ObsoleteBmp() {
  const std::string text = "<<<Obsolete>>>";
  std::string bmp;
  for (char c : text) {
    bmp.push_back('\0');
    bmp.push_back(c);
  }
  return bmp;
}

// SpcLink, choice file: SpcString, choice unicode.
Node ObsoleteFileLink() {
  return der::Constructed(der::ContextConstructed(2),
                          {der::Primitive(der::ContextPrimitive(0), ObsoleteBmp())});
}

// SpcSipInfo of the installer-package subject package: version 1, its GUID
// {000C10F1-0000-0000-C000-000000000046} in memory order, five zero fields.
Node InstallerSipInfo() {
  static const unsigned char kGuid[16] = {0xF1, 0x10, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00,
                                          0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
  std::vector<Node> fields{
      der::Primitive(der::kInteger, std::string(1, '\x01')),
      der::Primitive(der::kOctetString, std::string(reinterpret_cast<const char*>(kGuid), 16))};
  for (int i = 0; i < 5; ++i) fields.push_back(der::Primitive(der::kInteger, std::string(1, '\0')));
  return der::Constructed(der::kSequence, std::move(fields));
}

constexpr char kOidPageHashesV1[] = "1.3.6.1.4.1.311.2.3.1";  // SHA-1 pages
constexpr char kOidPageHashesV2[] = "1.3.6.1.4.1.311.2.3.2";  // SHA-256 pages
// The class of the serialized object that carries page hashes.
const std::string kPageHashClass("\xa6\xb5\x86\xd5\xb4\xa1\x24\x66\xae\x05\xa2\x17\xda\x8e\x60\xd6",
                                 16);

// SpcLink, choice moniker [1]: SpcSerializedObject { classId, serializedData }, the data a
// SET holding the page-hash attribute { type, SET { OCTET STRING table } }.
Node PageHashLink(HashAlgorithm pageDigest, const std::string& table) {
  Node attribute = der::Constructed(
      der::kSequence,
      {der::Oid(pageDigest == HashAlgorithm::Sha1 ? kOidPageHashesV1 : kOidPageHashesV2),
       der::Constructed(der::kSet, {der::Primitive(der::kOctetString, table)})});
  const std::string serialized = der::Encode(der::Constructed(der::kSet, {std::move(attribute)}));
  return der::Constructed(der::ContextConstructed(1),
                          {der::Primitive(der::kOctetString, kPageHashClass),
                           der::Primitive(der::kOctetString, serialized)});
}

}  // namespace

HashAlgorithm PageHashDigest(HashAlgorithm algorithm) {
  return algorithm == HashAlgorithm::Sha1 ? HashAlgorithm::Sha1 : HashAlgorithm::Sha256;
}

std::string PeImageDataValue(HashAlgorithm algorithm, const std::string& pageHashes) {
  // SpcPeImageData: flags (empty bit string: include resources), file [0] SpcLink.
  Node link =
      pageHashes.empty() ? ObsoleteFileLink() : PageHashLink(PageHashDigest(algorithm), pageHashes);
  Node peImage = der::Constructed(
      der::kSequence, {der::Primitive(der::kBitString, std::string(1, '\0')),
                       der::Constructed(der::ContextConstructed(0), {std::move(link)})});
  return der::Encode(
      der::Constructed(der::kSequence, {der::Oid(kOidSpcPeImageData), std::move(peImage)}));
}

std::string SipInfoValue() {
  return der::Encode(
      der::Constructed(der::kSequence, {der::Oid(kOidSpcSipInfo), InstallerSipInfo()}));
}

std::string CabDataValue() {
  return der::Encode(
      der::Constructed(der::kSequence, {der::Oid(kOidSpcCabData), ObsoleteFileLink()}));
}

std::string BuildIndirectData(const std::string& dataValue, HashAlgorithm algorithm,
                              const std::string& digest) {
  Node digestInfo = der::Constructed(
      der::kSequence,
      {der::Constructed(der::kSequence, {der::Oid(HashOid(algorithm)), der::Null()}),
       der::Primitive(der::kOctetString, digest)});
  return der::Encode(
      der::Constructed(der::kSequence, {der::Raw(dataValue), std::move(digestInfo)}));
}

std::optional<PageHashes> ReadPageHashes(const std::string& indirectData) {
  try {
    Node root = der::ParseExact(indirectData);
    Node& data = der::Child(root, 0);
    if (der::OidText(der::Child(data, 0)) != kOidSpcPeImageData) return std::nullopt;
    Node& peImage = der::Child(data, 1);
    if (peImage.tag != der::kSequence) return std::nullopt;
    Node& file = der::Child(peImage, 1);
    if (file.tag != der::ContextConstructed(0)) return std::nullopt;
    Node& link = der::Child(file, 0);
    if (link.tag != der::ContextConstructed(1)) return std::nullopt;
    if (der::ContentOf(der::Child(link, 0)) != kPageHashClass) return std::nullopt;
    Node set = der::ParseExact(der::ContentOf(der::Child(link, 1)));
    Node& attribute = der::Child(set, 0);
    const std::string type = der::OidText(der::Child(attribute, 0));
    PageHashes out;
    if (type == kOidPageHashesV1)
      out.algorithm = HashAlgorithm::Sha1;
    else if (type == kOidPageHashesV2)
      out.algorithm = HashAlgorithm::Sha256;
    else
      return std::nullopt;
    Node& values = der::Child(attribute, 1);
    Node& table = der::Child(values, 0);
    if (values.tag != der::kSet || table.tag != der::kOctetString) return std::nullopt;
    out.table = der::ContentOf(table);
    return out;
  } catch (const der::DerError&) {
    return std::nullopt;
  }
}

bool ParseIndirectData(const std::string& bytes, IndirectDigest& out) {
  try {
    Node root = der::ParseExact(bytes);
    if (root.tag != der::kSequence) return false;
    Node& data = der::Child(root, 0);
    out.dataType = der::OidText(der::Child(data, 0));
    Node& digestInfo = der::Child(root, 1);
    Node& algorithm = der::Child(digestInfo, 0);
    out.digestOid = der::OidText(der::Child(algorithm, 0));
    Node& digest = der::Child(digestInfo, 1);
    if (digest.tag != der::kOctetString) return false;
    out.digest = der::ContentOf(digest);
    return true;
  } catch (const der::DerError&) {
    return false;
  }
}

std::string IndirectDataSignedBytes(const std::string& bytes) {
  return der::ContentOf(der::ParseExact(bytes));
}

}  // namespace corvane
