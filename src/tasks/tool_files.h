// File helpers of the CAB/CAT tool: where its work files live and how a product reaches the
// place the user chose.
#pragma once

#include <string>

namespace corvane {

// The platform's temporary folder, then the bare file name of `name`, then `suffix`.
std::string GetTempFilePath(const std::string& name, const std::string& suffix);

// Makes `source` and an existing `target` writable for their owner (their other permission
// bits stay), then copies `source` over `target`: the copy is written beside `target` and
// renamed over it, so `target` is either as it was or the complete copy. True on success.
bool CopyFileForce(const std::string& source, const std::string& target);

}  // namespace corvane
