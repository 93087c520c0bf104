// The catalog run of the CAB/CAT tool, independent of any window: one catalog member per
// file of the tool list, in list order, an ".inf" file first given the "CatalogFile" entry
// that names the catalog. The first file that fails ends the run and nothing is stored.
#pragma once

#include <stop_token>
#include <string>
#include <vector>

#include "base/language.h"
#include "sign/hash_algorithm.h"
#include "tasks/create_cab.h"

namespace corvane {

// Asks for the destination first (an INF in the list is given the catalog's name before it
// is hashed), then builds the catalog over `paths` and stores it there (written beside it and
// renamed into place). A cancelled choice still walks the rows but stores nothing and leaves
// every INF as it was. Each row ends "Complete" or with its error text; the first failing row
// ends the loop (later rows keep their text) and nothing is stored. Returns the product
// path, empty when nothing was stored. A failure of the catalog itself raises the composite
// text "CGuiWnd::CreateCat, <status>,". `memberHash` SHA-256 makes a version 2 catalog.
std::string CreateCat(const std::vector<std::string>& paths, const SkinTexts& texts,
                      const ToolRowReport& report, std::stop_token stop,
                      const ChooseSavePath& chooseDestination,
                      HashAlgorithm memberHash = HashAlgorithm::Sha1);

// For a row path ending in ".inf" (exactly): the key "CatalogFile" of the section "version"
// (matched in any letter case) gets the file name of `productPath`, replacing an existing
// key of that name or being added at the end of the section (the section is added when there
// is none). The file keeps its encoding (UTF-16LE with a byte-order mark, or bytes) and line
// ends, and is rewritten beside itself and renamed. False when the file could not be changed.
bool WriteInfCatalogFile(const std::string& rowPath, const std::string& productPath);

}  // namespace corvane
