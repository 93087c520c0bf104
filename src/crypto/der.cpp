#include "crypto/der.h"

#include <cstdio>

namespace corvane::der {
namespace {

struct Header {
  std::uint8_t tag;
  std::size_t headerLength;
  std::size_t contentLength;
};

Header ReadHeader(std::string_view in) {
  if (in.size() < 2) throw DerError("truncated header");
  Header h{static_cast<std::uint8_t>(in[0]), 2, 0};
  if ((h.tag & 0x1F) == 0x1F) throw DerError("multi-byte tag");
  auto first = static_cast<std::uint8_t>(in[1]);
  if (first < 0x80) {
    h.contentLength = first;
  } else {
    std::size_t count = first & 0x7F;
    if (count == 0) throw DerError("indefinite length");
    if (count > 4) throw DerError("length too large");
    if (in.size() < 2 + count) throw DerError("truncated length");
    for (std::size_t i = 0; i < count; ++i)
      h.contentLength = (h.contentLength << 8) | static_cast<std::uint8_t>(in[2 + i]);
    h.headerLength += count;
  }
  if (h.contentLength > in.size() - h.headerLength) throw DerError("content past the end");
  return h;
}

std::string EncodeLength(std::size_t length) {
  std::string out;
  if (length < 0x80) {
    out.push_back(static_cast<char>(length));
    return out;
  }
  std::string bytes;
  for (std::size_t n = length; n > 0; n >>= 8)
    bytes.insert(bytes.begin(), static_cast<char>(n & 0xFF));
  out.push_back(static_cast<char>(0x80 | bytes.size()));
  return out + bytes;
}

}  // namespace

Node Parse(std::string_view in, std::size_t* used) {
  Header h = ReadHeader(in);
  std::size_t total = h.headerLength + h.contentLength;
  if (used) *used = total;
  Node node;
  node.tag = h.tag;
  node.raw.assign(in.substr(0, total));
  if (node.raw.empty()) throw DerError("empty");
  return node;
}

Node ParseExact(std::string_view in) {
  std::size_t used = 0;
  Node node = Parse(in, &used);
  if (used != in.size()) throw DerError("trailing bytes");
  return node;
}

void Expand(Node& node) {
  if (!node.isRaw()) return;
  if (!node.constructed()) {
    node.content = ContentOf(node);
    node.raw.clear();
    return;
  }
  Header h = ReadHeader(node.raw);
  std::string_view content = std::string_view(node.raw).substr(h.headerLength, h.contentLength);
  std::vector<Node> children;
  while (!content.empty()) {
    std::size_t used = 0;
    children.push_back(Parse(content, &used));
    content.remove_prefix(used);
  }
  node.children = std::move(children);
  node.raw.clear();
}

Node& Child(Node& node, std::size_t index) {
  Expand(node);
  if (index >= node.children.size()) throw DerError("missing element");
  return node.children[index];
}

const Node& ChildConst(const Node& node, std::size_t index) {
  if (node.isRaw() || index >= node.children.size()) throw DerError("missing element");
  return node.children[index];
}

std::string ContentOf(const Node& node) {
  if (node.isRaw()) {
    Header h = ReadHeader(node.raw);
    return node.raw.substr(h.headerLength, h.contentLength);
  }
  if (!node.constructed()) return node.content;
  std::string out;
  for (const Node& child : node.children) out += Encode(child);
  return out;
}

std::string Encode(const Node& node) {
  if (node.isRaw()) return node.raw;
  return EncodeTlv(node.tag, ContentOf(node));
}

std::string EncodeTlv(std::uint8_t tag, std::string_view content) {
  std::string out(1, static_cast<char>(tag));
  out += EncodeLength(content.size());
  out.append(content);
  return out;
}

Node Primitive(std::uint8_t tag, std::string content) {
  Node node;
  node.tag = tag;
  node.content = std::move(content);
  return node;
}

Node Constructed(std::uint8_t tag, std::vector<Node> children) {
  Node node;
  node.tag = tag;
  node.children = std::move(children);
  return node;
}

Node Raw(std::string_view der) { return ParseExact(der); }

Node Oid(std::string_view dotted) {
  std::vector<unsigned long long> arcs;
  unsigned long long value = 0;
  bool digit = false;
  for (char c : dotted) {
    if (c == '.') {
      if (!digit) throw DerError("bad object identifier");
      arcs.push_back(value);
      value = 0;
      digit = false;
    } else if (c >= '0' && c <= '9') {
      value = value * 10 + static_cast<unsigned>(c - '0');
      digit = true;
    } else {
      throw DerError("bad object identifier");
    }
  }
  if (!digit) throw DerError("bad object identifier");
  arcs.push_back(value);
  if (arcs.size() < 2) throw DerError("bad object identifier");
  std::string content;
  auto put = [&content](unsigned long long arc) {
    std::string bytes(1, static_cast<char>(arc & 0x7F));
    for (arc >>= 7; arc > 0; arc >>= 7)
      bytes.insert(bytes.begin(), static_cast<char>(0x80 | (arc & 0x7F)));
    content += bytes;
  };
  put(arcs[0] * 40 + arcs[1]);
  for (std::size_t i = 2; i < arcs.size(); ++i) put(arcs[i]);
  return Primitive(kOid, content);
}

Node Null() { return Primitive(kNull, {}); }

std::string OidText(const Node& node) {
  if (node.tag != kOid) throw DerError("not an object identifier");
  std::string content = ContentOf(node);
  if (content.empty()) throw DerError("empty object identifier");
  std::string text;
  unsigned long long value = 0;
  bool firstArc = true;
  for (std::size_t i = 0; i < content.size(); ++i) {
    auto byte = static_cast<std::uint8_t>(content[i]);
    if (value > (~0ULL >> 7)) throw DerError("object identifier arc too large");
    value = (value << 7) | (byte & 0x7F);
    if (byte & 0x80) {
      if (i + 1 == content.size()) throw DerError("truncated object identifier");
      continue;
    }
    char buffer[48];
    if (firstArc) {
      unsigned long long top = value < 80 ? value / 40 : 2;
      std::snprintf(buffer, sizeof buffer, "%llu.%llu", top, value - top * 40);
      firstArc = false;
    } else {
      std::snprintf(buffer, sizeof buffer, ".%llu", value);
    }
    text += buffer;
    value = 0;
  }
  return text;
}

}  // namespace corvane::der
