#include "formats/pe/pe_page_hashes.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "formats/file_reader.h"
#include "formats/pe/pe_image.h"

namespace corvane::pe {
namespace {

constexpr std::uint32_t kSmallestPage = 512;  // the smallest file alignment
constexpr std::uint32_t kLargestPage = 4u << 20;

struct MdCtxDeleter {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

// The digest of `bytes` followed by `zeroCount` zero bytes.
std::string PageDigest(const EVP_MD* md, const std::string& bytes, std::size_t zeroCount) {
  std::unique_ptr<EVP_MD_CTX, MdCtxDeleter> ctx(EVP_MD_CTX_new());
  const std::string zeros(zeroCount, '\0');
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1 ||
      EVP_DigestUpdate(ctx.get(), bytes.data(), bytes.size()) != 1 ||
      EVP_DigestUpdate(ctx.get(), zeros.data(), zeros.size()) != 1 ||
      EVP_DigestFinal_ex(ctx.get(), out, &length) != 1)
    throw PeFormatError("page digest failed");
  return std::string(reinterpret_cast<char*>(out), length);
}

std::string Le32(std::uint32_t value) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

}  // namespace

std::string PageHashTable(const std::string& path, const EVP_MD* md) {
  const PeLayout layout = ReadLayout(path);
  formats::FileReader file(path);
  const std::uint32_t peHeader = file.U32At(0x3C);
  const std::uint64_t coff = std::uint64_t{peHeader} + 4;
  const std::uint16_t sections = file.U16At(coff + 2);
  const std::uint16_t optionalSize = file.U16At(coff + 16);
  const std::uint64_t optional = coff + 20;
  const std::uint32_t pageSize = file.U32At(optional + 32);  // SectionAlignment
  const std::uint32_t fileAlignment = file.U32At(optional + 36);
  if (pageSize < kSmallestPage || pageSize < fileAlignment || pageSize > kLargestPage)
    throw PeFormatError("the section alignment is no page size");
  if (layout.sizeOfHeaders > pageSize || layout.sizeOfHeaders > file.size())
    throw PeFormatError("the headers do not fit one page");
  // Section data may not reach the certificate table.
  const std::uint64_t dataEnd = layout.certTableOffset ? layout.certTableOffset : file.size();

  std::string table;
  {
    std::string headers = file.ReadAt(0, layout.sizeOfHeaders);
    const std::uint64_t checksum = layout.checksumOffset, entry = layout.securityEntryOffset;
    if (checksum + 4 > entry || entry + 8 > headers.size())
      throw PeFormatError("the header fields lie outside the headers");
    std::string hashed = headers.substr(0, checksum) +
                         headers.substr(checksum + 4, entry - checksum - 4) +
                         headers.substr(entry + 8);
    // The page is filled up from the end of the headers: the fields left out are not.
    table += Le32(0) + PageDigest(md, hashed, pageSize - layout.sizeOfHeaders);
  }
  const std::uint64_t sectionTable = optional + optionalSize;
  std::uint32_t lastEnd = 0;
  for (std::uint16_t i = 0; i < sections; ++i) {
    const std::uint64_t header = sectionTable + std::uint64_t{i} * 40;
    const std::uint32_t rawSize = file.U32At(header + 16);
    const std::uint32_t rawOffset = file.U32At(header + 20);
    if (rawSize == 0) continue;
    if (rawOffset > dataEnd || rawSize > dataEnd - rawOffset)
      throw PeFormatError("section data lies outside the image data");
    for (std::uint64_t at = 0; at < rawSize; at += pageSize) {
      const std::size_t length =
          static_cast<std::size_t>(std::min<std::uint64_t>(pageSize, rawSize - at));
      table += Le32(static_cast<std::uint32_t>(rawOffset + at)) +
               PageDigest(md, file.ReadAt(rawOffset + at, length), pageSize - length);
    }
    lastEnd = rawOffset + rawSize;
  }
  table += Le32(lastEnd) + std::string(static_cast<std::size_t>(EVP_MD_get_size(md)), '\0');
  return table;
}

}  // namespace corvane::pe
