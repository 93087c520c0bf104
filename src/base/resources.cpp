#include "base/resources.h"

namespace corvane {

std::string_view FindResource(std::string_view type, int id) {
  for (std::size_t i = 0; i < kEmbeddedResourceCount; ++i) {
    const ResourceEntry& e = kEmbeddedResources[i];
    if (e.id == id && type == e.type) return {reinterpret_cast<const char*>(e.data), e.size};
  }
  return {};
}

}  // namespace corvane
