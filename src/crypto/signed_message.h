// A PKCS #7 SignedData message (ContentInfo) opened for the edits signing makes: adding
// certificates, reading and rewriting the unauthenticated attributes of a signer. Everything
// not edited is written back byte for byte.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "crypto/der.h"

namespace corvane {

inline constexpr char kOidSignedData[] = "1.2.840.113549.1.7.2";
inline constexpr char kOidData[] = "1.2.840.113549.1.7.1";
inline constexpr char kOidContentType[] = "1.2.840.113549.1.9.3";
inline constexpr char kOidMessageDigest[] = "1.2.840.113549.1.9.4";
inline constexpr char kOidSigningTime[] = "1.2.840.113549.1.9.5";
inline constexpr char kOidCounterSignature[] = "1.2.840.113549.1.9.6";
inline constexpr char kOidSpcIndirectData[] = "1.3.6.1.4.1.311.2.1.4";
inline constexpr char kOidSpcStatementType[] = "1.3.6.1.4.1.311.2.1.11";
inline constexpr char kOidSpcIndividualCodeSigning[] = "1.3.6.1.4.1.311.2.1.21";
inline constexpr char kOidSpcSpOpusInfo[] = "1.3.6.1.4.1.311.2.1.12";
inline constexpr char kOidSpcPeImageData[] = "1.3.6.1.4.1.311.2.1.15";
inline constexpr char kOidSpcCabData[] = "1.3.6.1.4.1.311.2.1.25";
inline constexpr char kOidSpcSipInfo[] = "1.3.6.1.4.1.311.2.1.30";
inline constexpr char kOidNestedSignature[] = "1.3.6.1.4.1.311.2.4.1";
inline constexpr char kOidRfc3161Timestamp[] = "1.3.6.1.4.1.311.3.3.1";
inline constexpr char kOidTimestampRequest[] = "1.3.6.1.4.1.311.3.2.1";

struct MessageAttribute {
  std::string oid;
  std::vector<std::string> values;  // each value's DER
};

class SignedMessage {
 public:
  // Raises CryptoError when the bytes are not a SignedData ContentInfo with a signer; so do
  // the accessors below when a part they read does not parse.
  static SignedMessage Decode(std::string_view der);
  std::string Encode() const;

  // Certificates of the message in their order, as DER.
  std::vector<std::string> Certificates() const;
  // Appends a certificate at the end of the certificate set.
  void AddCertificate(std::string_view certDer);

  std::size_t SignerCount() const;
  // The whole SignerInfo of signer `index`, DER.
  std::string SignerInfo(std::size_t index = 0) const;
  // The signature value (encryptedDigest) of signer `index`.
  std::string EncryptedDigest(std::size_t index = 0) const;

  std::vector<MessageAttribute> UnauthenticatedAttributes(std::size_t index = 0) const;
  // Replaces the unauthenticated attributes of signer `index`; an empty list removes them.
  void SetUnauthenticatedAttributes(std::size_t index,
                                    const std::vector<MessageAttribute>& attributes);

  // The type and the DER of the encapsulated content (the value inside its [0]).
  std::string ContentType() const;
  std::string ContentDer() const;

 private:
  der::Node& SignedData();
  const der::Node& SignedDataConst() const;
  der::Node& Signer(std::size_t index);
  const der::Node& SignerConst(std::size_t index) const;

  der::Node root_;  // ContentInfo, expanded along the paths we edit
};

// Adds `certDer` unless a certificate of the message already starts with the same bytes.
// Returns whether it was added.
bool AddCertToSignature(SignedMessage& message, std::string_view certDer);

// The outer message with `innerDer` appended as the last value of its first signer's
// nested-signature attribute (created when missing); every other byte of the outer message's
// signed parts stays as it was.
std::string NestSignature(std::string_view outerDer, std::string_view innerDer);

}  // namespace corvane
