// Catalog files as signing and verification read them: the signed-data wrapper, the
// certificate trust list and its members, and writing the members back.
#include <cstddef>
#include <cstdint>
#include <string>

#include "formats/catalog/catalog_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  corvane::catalog::LooksLikeSignedData(bytes);
  try {
    std::string ctl = corvane::catalog::CtlOf(bytes);
    corvane::catalog::Catalog catalog;
    catalog.members = corvane::catalog::ReadMembers(ctl);
    catalog.listIdentifier.assign(16, '\0');
    for (corvane::catalog::Member& member : catalog.members)
      if (member.indirectData.empty()) member.indirectData.assign("\x30\x00", 2);
    std::string again = corvane::catalog::Encode(catalog);
    corvane::catalog::ReadMembers(corvane::catalog::CtlOf(again));
  } catch (const corvane::catalog::CatalogFormatError&) {
  }
  return 0;
}
