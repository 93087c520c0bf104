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

}  // namespace

std::string BuildIndirectData(SubjectKind kind, HashAlgorithm algorithm,
                              const std::string& digest) {
  Node data;
  if (kind == SubjectKind::PeImage) {
    // SpcPeImageData: flags (empty bit string: include resources), file [0] SpcLink.
    Node peImage = der::Constructed(
        der::kSequence, {der::Primitive(der::kBitString, std::string(1, '\0')),
                         der::Constructed(der::ContextConstructed(0), {ObsoleteFileLink()})});
    data = der::Constructed(der::kSequence, {der::Oid(kOidSpcPeImageData), std::move(peImage)});
  } else if (kind == SubjectKind::InstallerPackage) {
    data = der::Constructed(der::kSequence, {der::Oid(kOidSpcSipInfo), InstallerSipInfo()});
  } else {
    data = der::Constructed(der::kSequence, {der::Oid(kOidSpcCabData), ObsoleteFileLink()});
  }
  Node digestInfo = der::Constructed(
      der::kSequence,
      {der::Constructed(der::kSequence, {der::Oid(HashOid(algorithm)), der::Null()}),
       der::Primitive(der::kOctetString, digest)});
  return der::Encode(der::Constructed(der::kSequence, {std::move(data), std::move(digestInfo)}));
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
