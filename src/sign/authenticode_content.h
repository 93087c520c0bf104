// SpcIndirectDataContent: what an Authenticode signature says about the file it signs (the
// kind of subject and the file's digest).
#pragma once

#include <optional>
#include <string>

#include "sign/hash_algorithm.h"

namespace corvane {

// What a file is, as the signer, the verifier and the catalog writer see it (the SignType
// texts are the signing policy chosen from the extension, not this). Flat images (files no
// other format claims) carry the cabinet's form of indirect data; a catalog's signature
// carries its certificate trust list instead of indirect data.
enum class SubjectKind { PeImage, Cabinet, InstallerPackage, FlatImage, Catalog };

// DER of the SpcIndirectDataContent for a subject of `kind` with `digest`. For a PE image,
// a non-empty `pageHashes` table (pe::PageHashTable) goes into its SpcPeImageData, made with
// SHA-1 for a SHA-1 signature and with SHA-256 otherwise (PageHashDigest).
std::string BuildIndirectData(SubjectKind kind, HashAlgorithm algorithm, const std::string& digest,
                              const std::string& pageHashes = {});

// The digest page hashes are made with for a signature with `algorithm`.
HashAlgorithm PageHashDigest(HashAlgorithm algorithm);

// The page-hash table an SpcIndirectDataContent carries, with the digest it was made with;
// nullopt when it carries none (or is no PE image's).
struct PageHashes {
  HashAlgorithm algorithm = HashAlgorithm::Sha1;
  std::string table;
};
std::optional<PageHashes> ReadPageHashes(const std::string& indirectData);

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
