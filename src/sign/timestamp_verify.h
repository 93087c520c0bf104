// Checking the timestamp of a signer: an Authenticode countersignature (unauthenticated
// attribute 1.2.840.113549.1.9.6) or an RFC 3161 token (1.3.6.1.4.1.311.3.3.1).
//
// Both come down to one SignerInfo of the TSA: its messageDigest attribute must be the digest
// of what it stamps (the signer's signature value, or the TSTInfo of a token), its signature
// must cover the DER SET of its authenticated attributes, and its certificate must chain to a
// trusted root, for time stamping, at the time it states.
#pragma once

#include <openssl/x509.h>

#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/openssl_ptr.h"
#include "crypto/signed_message.h"

namespace corvane {

inline constexpr char kOidTstInfo[] = "1.2.840.113549.1.9.16.1.4";

struct TimestampInfo {
  std::time_t time = 0;               // when the TSA says it signed
  std::string tsaCertDer;             // the certificate that made the TSA's signature
  std::vector<std::string> certsDer;  // the verified chain, TSA certificate first, root last
  bool rfc3161 = false;               // an RFC 3161 token rather than a countersignature
};

// The first timestamp of signer `signer` of `message` that verifies against `trust`; nullopt
// when the signer has none or none verifies. The certificates of an Authenticode
// countersignature are looked for in the message's certificate set, those of an RFC 3161
// token in the token. Never throws.
std::optional<TimestampInfo> VerifyTimestamp(const SignedMessage& message, std::size_t signer,
                                             X509_STORE* trust);

// What one SignerInfo of a TSA proves about `content` without looking at any trust.
struct SignerCheck {
  X509Ptr cert;                            // the certificate whose key made the signature
  std::optional<std::time_t> signingTime;  // its signingTime attribute, when it has one
};

// Checks that `signerInfoDer` has authenticated attributes with a messageDigest equal to the
// digest of `content` under its digest algorithm, that the signature over those attributes
// verifies with the key of the certificate among `certificatesDer` that the SignerInfo names
// (issuer and serial number, or subject key identifier), and, when `contentType` is given,
// that its contentType attribute names it. nullopt for any failure. Never throws.
std::optional<SignerCheck> CheckSignerInfo(std::string_view signerInfoDer, std::string_view content,
                                           const std::vector<std::string>& certificatesDer,
                                           const char* contentType = nullptr);

// An RFC 3161 token (a ContentInfo) checked against the signature value it stamps: its
// TSTInfo's messageImprint must be the digest of `signatureValue`, and its SignerInfo must
// pass CheckSignerInfo against the TSTInfo. Fills `time` (genTime) and `certsDer` (the
// token's certificates) and `tsaCert` when given. Never throws.
bool CheckRfc3161Token(std::string_view tokenDer, std::string_view signatureValue,
                       std::time_t* time = nullptr, X509Ptr* tsaCert = nullptr,
                       std::vector<std::string>* certsDer = nullptr);

}  // namespace corvane
