// What a subject package gives the catalog writer for one file: the file's subject type and
// the SpcIndirectDataContent of the file (SHA-1, or SHA-256 for a version 2 catalog), computed as
// that type's package computes it (PE images and cabinets by their Authenticode digest, every other
// file over all its bytes).
#pragma once

#include <string>

#include "sign/hash_algorithm.h"

namespace corvane {

struct MemberIndirectData {
  std::string subjectType;   // "{...}"
  std::string indirectData;  // SpcIndirectDataContent, DER
  std::string digest;        // the digest inside it
};

// Raises ExceptionEx: "file type is not supported" for a format whose package is not
// available here (installer packages), "file content is empty" for an empty file or one whose
// size cannot be read, "undefined" when the file cannot be read or digested.
// `algorithm`: SHA-1 for a catalog of the first version, SHA-256 for one of version 2.
MemberIndirectData CreateMemberIndirectData(const std::string& path,
                                            HashAlgorithm algorithm = HashAlgorithm::Sha1);

// The reference tag of a member: its digest in upper-case hexadecimal.
std::string ReferenceTag(const std::string& digest);

}  // namespace corvane
