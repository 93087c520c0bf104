// Data compiled into the program: language tables and the authority's certificates.
#pragma once

#include <cstddef>
#include <string_view>

namespace corvane {

struct ResourceEntry {
  const char* type;
  int id;
  const unsigned char* data;
  std::size_t size;
};

extern const ResourceEntry kEmbeddedResources[];
extern const std::size_t kEmbeddedResourceCount;

// Resource ids of the language tables (type "XML") and built-in certificates (type "CERT").
inline constexpr int kResChineseTable = 156;
inline constexpr int kResEnglishTable = 157;

// The bytes of a resource; an empty view when there is none of that type and id.
std::string_view FindResource(std::string_view type, int id);

}  // namespace corvane
