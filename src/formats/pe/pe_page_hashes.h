// The page hashes of a PE image: one digest per page of its headers and section data, so a
// loader can check each page as it maps it. The table is what the page-hash attribute of an
// Authenticode signature carries: for each page its file offset (4 bytes, little-endian) and
// its digest, the headers first (their checksum and certificate-table entry left out, then
// zero bytes from the end of the headers to the end of the page), then every page of every
// section's raw data (a last short page filled with zero bytes), then the offset where the last
// section's data ends with an all-zero digest. The page size is the image's section alignment.
#pragma once

#include <openssl/evp.h>

#include <string>

namespace corvane::pe {

// The table with `md`. PeFormatError for an image whose headers do not fit one page, whose
// section alignment is no page size (below 512 bytes or the file alignment, above 4 MiB), or whose
// section data lies outside the image data.
std::string PageHashTable(const std::string& path, const EVP_MD* md);

}  // namespace corvane::pe
