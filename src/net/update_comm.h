// The update document on the maker's download server and version comparison.
//
// The document is XML: <config> holds <file name="..."> entries; the first entry named as
// asked holds a <version num="a.b.c.d"> whose child element named by the language
// ("desp-en", "desp-cn") carries the release notes.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

inline constexpr const char* kUpdateDocumentName = "corvanecode.update.xml.txt";
inline constexpr const char* kUpdateExecutableName = "corvanecode.exe";

struct VersionInfo {
  std::string version;  // "num" of the entry
  std::string notes;    // text of the notes element
};

class UpdateComm {
 public:
  // Downloads `documentUrl` into a temporary file and reads it. Every failure (download,
  // not XML, no such entry, no notes element) throws ExceptionEx "UpdateComm::GetVerInfo".
  static VersionInfo GetVerInfo(const std::string& documentUrl, const std::string& entryName,
                                const std::string& notesElement);

  // The reading alone, over the document's bytes; throws as above.
  static VersionInfo ReadVerInfo(std::string_view document, const std::string& entryName,
                                 const std::string& notesElement);
};

// Positive when `a` is newer than `b`, 0 when equal, negative when older. The numbers between
// dots are compared in turn (leading digits; none reads as 0); a version that runs out of
// numbers first is older when the other has more. An empty version has no numbers, so it is
// older than any other.
int CompareVersions(std::string_view a, std::string_view b);

}  // namespace corvane
