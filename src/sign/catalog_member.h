// What a subject package gives the catalog writer for one file: the file's subject type and
// the SHA-1 SpcIndirectDataContent of the file, computed as that type's package computes it
// (PE images and cabinets by their Authenticode digest, every other file over all its bytes).
#pragma once

#include <string>

namespace corvane {

struct MemberIndirectData {
  std::string subjectType;   // "{...}"
  std::string indirectData;  // SpcIndirectDataContent, DER
  std::string digest;        // the SHA-1 digest inside it
};

// Raises ExceptionEx: "file type is not supported" for a format whose package is not
// available here (installer packages), "file content is empty" for an empty file or one whose
// size cannot be read, "undefined" when the file cannot be read or digested.
MemberIndirectData CreateMemberIndirectData(const std::string& path);

// The reference tag of a member: its digest in upper-case hexadecimal.
std::string ReferenceTag(const std::string& digest);

}  // namespace corvane
