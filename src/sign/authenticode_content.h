// SpcIndirectDataContent: what an Authenticode signature says about the file it signs (the
// kind of subject and the file's digest).
#pragma once

#include <optional>
#include <string>

#include "sign/hash_algorithm.h"

namespace corvane {

// The SpcAttributeTypeAndOptionalValue that says what kind of file is signed, DER: PE image
// data (with a non-empty `pageHashes` table, pe::PageHashTable, made with PageHashDigest of
// `algorithm`), the installer package's SIP information, or cabinet data, which flat files
// carry too.
std::string PeImageDataValue(HashAlgorithm algorithm, const std::string& pageHashes = {});
std::string SipInfoValue();
std::string CabDataValue();

// DER of the SpcIndirectDataContent with `dataValue` and the file's `digest`.
std::string BuildIndirectData(const std::string& dataValue, HashAlgorithm algorithm,
                              const std::string& digest);

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
