#include "formats/catalog/catalog_file.h"

#include <algorithm>

#include "base/utf8.h"
#include "crypto/der.h"
#include "crypto/signed_message.h"

namespace corvane::catalog {
namespace {

using der::Node;

std::string Utf16Be(std::string_view utf8) {
  std::string le = Utf8ToUtf16Le(utf8);
  for (std::size_t i = 0; i + 1 < le.size(); i += 2) std::swap(le[i], le[i + 1]);
  return le;
}

std::string BmpToUtf8(std::string_view be) {
  std::string le(be);
  for (std::size_t i = 0; i + 1 < le.size(); i += 2) std::swap(le[i], le[i + 1]);
  return Utf16LeToUtf8(le);
}

Node Integer(std::uint32_t value) {
  std::string bytes;
  for (int shift = 24; shift >= 0; shift -= 8) {
    auto byte = static_cast<char>((value >> shift) & 0xFF);
    if (bytes.empty() && byte == 0 && shift > 0) continue;
    bytes.push_back(byte);
  }
  if (static_cast<unsigned char>(bytes[0]) & 0x80) bytes.insert(bytes.begin(), '\0');
  return der::Primitive(der::kInteger, bytes);
}

std::uint32_t ReadUint32(const Node& node) {
  std::string bytes = der::ContentOf(node);
  if (node.tag != der::kInteger || bytes.empty() || bytes.size() > 5 ||
      (static_cast<unsigned char>(bytes[0]) & 0x80) || (bytes.size() == 5 && bytes[0] != '\0'))
    throw CatalogFormatError("bad integer");
  std::uint32_t value = 0;
  for (char c : bytes) value = (value << 8) | static_cast<unsigned char>(c);
  return value;
}

std::string UtcTime(std::time_t when) {
  std::tm tm{};
  gmtime_r(&when, &tm);
  char text[32];
  if (tm.tm_year >= 150 || tm.tm_year < 50) {
    std::strftime(text, sizeof text, "%Y%m%d%H%M%SZ", &tm);
    return der::Encode(der::Primitive(der::kGeneralizedTime, text));
  }
  std::strftime(text, sizeof text, "%y%m%d%H%M%SZ", &tm);
  return der::Encode(der::Primitive(der::kUtcTime, text));
}

// An attribute with one value; SET OF order does not matter for a single value.
std::string Attribute(const char* oid, Node value) {
  return der::Encode(der::Constructed(
      der::kSequence, {der::Oid(oid), der::Constructed(der::kSet, {std::move(value)})}));
}

Node EncodeMember(const Member& member) {
  std::vector<std::string> attributes;
  attributes.push_back(Attribute(kOidSpcIndirectData, der::Raw(member.indirectData)));
  attributes.push_back(
      Attribute(kOidCatMemberInfo,
                der::Constructed(der::kSequence,
                                 {der::Primitive(der::kBmpString, Utf16Be(member.subjectType)),
                                  Integer(member.certVersion)})));
  for (const NameValue& nv : member.attributes)
    attributes.push_back(Attribute(
        kOidCatNameValue,
        der::Constructed(der::kSequence,
                         {der::Primitive(der::kBmpString, Utf16Be(nv.name)), Integer(nv.flags),
                          der::Primitive(der::kOctetString, nv.value)})));
  // DER orders a SET OF by the encodings of its elements.
  std::sort(attributes.begin(), attributes.end());
  std::vector<Node> nodes;
  for (const std::string& a : attributes) nodes.push_back(der::Raw(a));
  return der::Constructed(der::kSequence,
                          {der::Primitive(der::kOctetString, Utf16Value(member.referenceTag)),
                           der::Constructed(der::kSet, std::move(nodes))});
}

Member DecodeMember(Node subject) {
  if (subject.tag != der::kSequence) throw CatalogFormatError("bad trusted subject");
  Member member;
  Node& identifier = der::Child(subject, 0);
  if (identifier.tag != der::kOctetString) throw CatalogFormatError("bad subject identifier");
  member.referenceTag = Utf16LeToUtf8(der::ContentOf(identifier));
  if (subject.children.size() < 2) return member;
  Node& attributes = der::Child(subject, 1);
  if (attributes.tag != der::kSet) throw CatalogFormatError("bad subject attributes");
  der::Expand(attributes);
  for (Node& attribute : attributes.children) {
    if (attribute.tag != der::kSequence) throw CatalogFormatError("bad attribute");
    std::string oid = der::OidText(der::Child(attribute, 0));
    Node& values = der::Child(attribute, 1);
    if (values.tag != der::kSet) throw CatalogFormatError("bad attribute values");
    Node& value = der::Child(values, 0);
    if (oid == kOidSpcIndirectData) {
      member.indirectData = der::Encode(value);
    } else if (oid == kOidCatMemberInfo) {
      Node& guid = der::Child(value, 0);
      if (guid.tag != der::kBmpString) throw CatalogFormatError("bad member info");
      member.subjectType = BmpToUtf8(der::ContentOf(guid));
      member.certVersion = ReadUint32(der::Child(value, 1));
    } else if (oid == kOidCatNameValue) {
      NameValue nv;
      Node& name = der::Child(value, 0);
      if (name.tag != der::kBmpString) throw CatalogFormatError("bad name-value");
      nv.name = BmpToUtf8(der::ContentOf(name));
      nv.flags = ReadUint32(der::Child(value, 1));
      Node& data = der::Child(value, 2);
      if (data.tag != der::kOctetString) throw CatalogFormatError("bad name-value");
      nv.value = der::ContentOf(data);
      member.attributes.push_back(std::move(nv));
    }
  }
  return member;
}

}  // namespace

std::string Utf16Value(std::string_view utf8) {
  std::string value = Utf8ToUtf16Le(utf8);
  value.append(2, '\0');
  return value;
}

std::string Encode(const Catalog& catalog) {
  std::vector<Node> subjects;
  for (const Member& member : catalog.members) subjects.push_back(EncodeMember(member));
  std::vector<Node> ctl = {
      der::Constructed(der::kSequence, {der::Oid(kOidCatalogList)}),
      der::Primitive(der::kOctetString, catalog.listIdentifier),
      der::Raw(UtcTime(catalog.thisUpdate)),
      der::Constructed(der::kSequence, {der::Oid(catalog.version == 2 ? kOidCatalogListMember2
                                                                      : kOidCatalogListMember),
                                        der::Null()}),
  };
  if (!subjects.empty()) ctl.push_back(der::Constructed(der::kSequence, std::move(subjects)));
  Node signedData = der::Constructed(
      der::kSequence,
      {der::Primitive(der::kInteger, std::string(1, '\x01')), der::Constructed(der::kSet, {}),
       der::Constructed(der::kSequence,
                        {der::Oid(kOidCtl),
                         der::Constructed(der::ContextConstructed(0),
                                          {der::Constructed(der::kSequence, std::move(ctl))})}),
       der::Constructed(der::kSet, {})});
  return der::Encode(der::Constructed(
      der::kSequence, {der::Oid(kOidSignedData),
                       der::Constructed(der::ContextConstructed(0), {std::move(signedData)})}));
}

std::string CtlOf(std::string_view fileBytes) {
  try {
    Node root = der::ParseExact(fileBytes);
    if (root.tag != der::kSequence || der::OidText(der::Child(root, 0)) != kOidSignedData)
      throw CatalogFormatError("not a signed message");
    Node& explicitContent = der::Child(root, 1);
    if (explicitContent.tag != der::ContextConstructed(0))
      throw CatalogFormatError("no signed data");
    Node& signedData = der::Child(explicitContent, 0);
    if (signedData.tag != der::kSequence) throw CatalogFormatError("bad signed data");
    Node& content = der::Child(signedData, 2);
    if (content.tag != der::kSequence || der::OidText(der::Child(content, 0)) != kOidCtl)
      throw CatalogFormatError("the content is not a certificate trust list");
    Node& wrapped = der::Child(content, 1);
    if (wrapped.tag != der::ContextConstructed(0)) throw CatalogFormatError("no content");
    Node& ctl = der::Child(wrapped, 0);
    if (ctl.tag != der::kSequence) throw CatalogFormatError("bad certificate trust list");
    return der::Encode(ctl);
  } catch (const der::DerError& e) {
    throw CatalogFormatError(e.what());
  }
}

std::vector<Member> ReadMembers(std::string_view ctlDer) {
  try {
    Node ctl = der::ParseExact(ctlDer);
    if (ctl.tag != der::kSequence) throw CatalogFormatError("bad certificate trust list");
    der::Expand(ctl);
    std::size_t i = 0;
    auto& items = ctl.children;
    if (i < items.size() && items[i].tag == der::kInteger) ++i;  // version
    if (i >= items.size() || items[i].tag != der::kSequence)
      throw CatalogFormatError("no subject usage");
    bool catalogList = false;
    der::Expand(items[i]);
    for (const Node& usage : items[i].children)
      catalogList =
          catalogList || (usage.tag == der::kOid && der::OidText(usage) == kOidCatalogList);
    if (!catalogList) throw CatalogFormatError("not a catalog list");
    ++i;
    if (i < items.size() && items[i].tag == der::kOctetString) ++i;  // listIdentifier
    if (i < items.size() && items[i].tag == der::kInteger) ++i;      // sequenceNumber
    for (int times = 0; times < 2 && i < items.size() &&
                        (items[i].tag == der::kUtcTime || items[i].tag == der::kGeneralizedTime);
         ++times)
      ++i;  // thisUpdate, nextUpdate
    if (i >= items.size() || items[i].tag != der::kSequence)
      throw CatalogFormatError("no subject algorithm");
    ++i;
    std::vector<Member> members;
    if (i < items.size() && items[i].tag == der::kSequence) {
      der::Expand(items[i]);
      for (Node& subject : items[i].children) members.push_back(DecodeMember(subject));
    }
    return members;
  } catch (const der::DerError& e) {
    throw CatalogFormatError(e.what());
  }
}

bool LooksLikeSignedData(std::string_view head) {
  static const std::string oid = der::Encode(der::Oid(kOidSignedData));
  if (head.size() < 2 || static_cast<unsigned char>(head[0]) != der::kSequence) return false;
  auto first = static_cast<unsigned char>(head[1]);
  std::size_t at = first < 0x80 ? 2 : 2 + (first & 0x7F);
  if (first == 0x80 || (first & 0x7F) > 4) return false;
  return head.size() >= at + oid.size() && head.substr(at, oid.size()) == oid;
}

}  // namespace corvane::catalog
