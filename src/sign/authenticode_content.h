// SpcIndirectDataContent: what an Authenticode signature says about the file it signs (the
// kind of subject and the file's digest).
#pragma once

#include <string>

#include "sign/hash_algorithm.h"

namespace corvane {

// What a file is, as the signer, the verifier and the catalog writer see it (the SignType
// texts are the signing policy chosen from the extension, not this). Flat images (files no
// other format claims) carry the cabinet's form of indirect data; a catalog's signature
// carries its certificate trust list instead of indirect data.
enum class SubjectKind { PeImage, Cabinet, InstallerPackage, FlatImage, Catalog };

// DER of the SpcIndirectDataContent for a subject of `kind` with `digest`.
std::string BuildIndirectData(SubjectKind kind, HashAlgorithm algorithm, const std::string& digest);

// The digest algorithm and digest an SpcIndirectDataContent carries; false when it does not
// parse.
struct IndirectDigest {
  std::string dataType;  // SpcAttributeTypeAndOptionalValue type
  std::string digestOid;
  std::string digest;
};
bool ParseIndirectData(const std::string& der, IndirectDigest& out);

// The bytes an Authenticode message digest covers: the content octets of the
// SpcIndirectDataContent SEQUENCE, without its tag and length.
std::string IndirectDataSignedBytes(const std::string& der);

}  // namespace corvane
