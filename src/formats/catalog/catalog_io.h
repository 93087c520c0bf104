// Reading and writing catalog files as a whole: a catalog is one DER element, so it is read
// and written in one piece, with a bound on its size.
#pragma once

#include <cstdint>
#include <string>

namespace corvane::catalog {

// Catalogs larger than this are refused: real ones with tens of thousands of members stay far
// below, and it bounds what a stray file can make us read into memory.
inline constexpr std::uint64_t kMaxCatalogSize = 256u << 20;

// True when the file starts like a SignedData ContentInfo.
bool LooksLikeCatalogFile(const std::string& path);

// The whole file. std::system_error when it cannot be read, CatalogFormatError when it is
// larger than kMaxCatalogSize.
std::string ReadCatalogFile(const std::string& path);

// Replaces the whole content of `path` with `bytes`, in place: call it on a working copy.
// std::system_error when the file cannot be written completely.
void WriteCatalogFile(const std::string& path, const std::string& bytes);

}  // namespace corvane::catalog
