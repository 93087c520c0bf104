// A minimal DER tree for editing signed messages without re-encoding what we do not touch.
//
// A parsed node stays "raw" (its bytes kept exactly) until Expand() opens it one level; only
// expanded nodes are encoded again from their children. Certificates, signatures and nested
// messages therefore travel byte for byte, and SET OF values keep the order we give them.
// Parsing is bounded: every length is checked against the input and only definite-length
// encodings with single-byte tags are accepted.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/crypto_error.h"

namespace corvane::der {

class DerError : public CryptoError {
 public:
  using CryptoError::CryptoError;
};

enum Tag : std::uint8_t {
  kBoolean = 0x01,
  kInteger = 0x02,
  kBitString = 0x03,
  kOctetString = 0x04,
  kNull = 0x05,
  kOid = 0x06,
  kUtf8String = 0x0C,
  kPrintableString = 0x13,
  kIa5String = 0x16,
  kUtcTime = 0x17,
  kGeneralizedTime = 0x18,
  kBmpString = 0x1E,
  kSequence = 0x30,
  kSet = 0x31,
};

inline constexpr std::uint8_t ContextConstructed(int n) {
  return static_cast<std::uint8_t>(0xA0 | n);
}
inline constexpr std::uint8_t ContextPrimitive(int n) {
  return static_cast<std::uint8_t>(0x80 | n);
}

struct Node {
  std::uint8_t tag = 0;
  std::string raw;             // the whole TLV, when the node is kept as read
  std::string content;         // primitive content, when not raw
  std::vector<Node> children;  // constructed content, when not raw

  bool constructed() const { return (tag & 0x20) != 0; }
  bool isRaw() const { return !raw.empty(); }
};

// One TLV from the front of `in`; `used` gets its length. The node is raw.
Node Parse(std::string_view in, std::size_t* used = nullptr);
// The whole input must be exactly one TLV.
Node ParseExact(std::string_view in);

// Opens a raw constructed node one level: its children become raw nodes.
void Expand(Node& node);
// Expand, then the child at `index` (raises when there is none).
Node& Child(Node& node, std::size_t index);
const Node& ChildConst(const Node& node, std::size_t index);  // node must be expanded

// The content octets of a node (raw or not).
std::string ContentOf(const Node& node);
std::string Encode(const Node& node);
std::string EncodeTlv(std::uint8_t tag, std::string_view content);

Node Primitive(std::uint8_t tag, std::string content);
Node Constructed(std::uint8_t tag, std::vector<Node> children);
Node Raw(std::string_view der);  // validated to be one TLV
Node Oid(std::string_view dotted);
Node Null();

// "1.2.840.113549.1.7.2" from an OBJECT IDENTIFIER node.
std::string OidText(const Node& node);

}  // namespace corvane::der
