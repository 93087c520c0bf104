// Security catalogs (.cat): a certificate trust list (CTL) whose trusted subjects are the
// catalog's members, carried in a PKCS #7 SignedData. Unsigned, the SignedData has no
// signer; signing makes a new SignedData over the same CTL. Bytes in, bytes out: no policy.
//
//   ContentInfo { signedData, [0] SignedData {
//     version 1, digestAlgorithms, encapContentInfo { szOID_CTL, [0] CTL },
//     [0] certificates, signerInfos } }
//   CTL ::= SEQUENCE {
//     subjectUsage      SEQUENCE { szOID_CATALOG_LIST },
//     listIdentifier    OCTET STRING (16 random bytes),
//     ctlThisUpdate     UTCTime,
//     subjectAlgorithm  SEQUENCE { szOID_CATALOG_LIST_MEMBER (version 2: ..._MEMBER2), NULL },
//     trustedSubjects   SEQUENCE OF SEQUENCE {
//       subjectIdentifier  OCTET STRING: the reference tag in UTF-16LE with its terminating zero,
//       subjectAttributes  SET OF Attribute: SpcIndirectDataContent, member info, name-values } }
//   member info ::= SEQUENCE { BMPString subject GUID "{...}", INTEGER certificate version }
//   name-value  ::= SEQUENCE { BMPString name, INTEGER flags, OCTET STRING value }
#pragma once

#include <cstdint>
#include <ctime>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::catalog {

// Why a catalog was refused, for the log; callers map it to their own status.
class CatalogFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr char kOidCtl[] = "1.3.6.1.4.1.311.10.1";
inline constexpr char kOidCatalogList[] = "1.3.6.1.4.1.311.12.1.1";
inline constexpr char kOidCatalogListMember[] = "1.3.6.1.4.1.311.12.1.2";
// The subject algorithm of a version 2 catalog, whose members are listed by SHA-256 digests.
inline constexpr char kOidCatalogListMember2[] = "1.3.6.1.4.1.311.12.1.3";
inline constexpr char kOidCatNameValue[] = "1.3.6.1.4.1.311.12.2.1";
inline constexpr char kOidCatMemberInfo[] = "1.3.6.1.4.1.311.12.2.2";

// Subject types of the members, as the subject packages name them.
inline constexpr char kSubjectPeImage[] = "{C689AAB8-8E78-11D0-8C47-00C04FC295EE}";
inline constexpr char kSubjectCabinet[] = "{C689AABA-8E78-11D0-8C47-00C04FC295EE}";
inline constexpr char kSubjectInstallerPackage[] = "{000C10F1-0000-0000-C000-000000000046}";
inline constexpr char kSubjectFlatImage[] = "{DE351A42-8E59-11D0-8C47-00C04FC295EE}";

// Flags of a name-value attribute.
inline constexpr std::uint32_t kAttrAuthenticated = 0x10000000;
inline constexpr std::uint32_t kAttrDataAscii = 0x00010000;
inline constexpr std::uint32_t kAttrNameAscii = 0x00000001;

struct NameValue {
  std::string name;  // UTF-8 (stored as BMPString)
  std::uint32_t flags = 0;
  std::string value;  // the stored bytes as they are
};

struct Member {
  std::string referenceTag;  // UTF-8 (stored as UTF-16LE with its terminating zero)
  std::string subjectType;   // "{...}"
  std::uint32_t certVersion = 0;
  std::string indirectData;  // SpcIndirectDataContent, DER
  std::vector<NameValue> attributes;
};

struct Catalog {
  int version = 1;             // 2: members listed by SHA-256 digests
  std::string listIdentifier;  // 16 bytes
  std::time_t thisUpdate = 0;
  std::vector<Member> members;
};

// The unsigned catalog file (ContentInfo DER) holding `catalog`'s members in their order.
std::string Encode(const Catalog& catalog);

// The CTL (DER) a catalog file carries, signed or not. CatalogFormatError when `fileBytes` is
// not one SignedData ContentInfo with CTL content.
std::string CtlOf(std::string_view fileBytes);

// The members of a CTL (as CtlOf returns it), in their order. CatalogFormatError when it is
// not a catalog list.
std::vector<Member> ReadMembers(std::string_view ctlDer);

// True when the first bytes of a file look like a SignedData ContentInfo (the tag, a length
// and the signedData object identifier). Says nothing about the content type.
bool LooksLikeSignedData(std::string_view head);

// The value of a name-value attribute as Windows stores text: UTF-16LE with a terminating zero.
std::string Utf16Value(std::string_view utf8);

}  // namespace corvane::catalog
