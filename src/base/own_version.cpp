#include "base/own_version.h"

#include <cstdio>

namespace corvane {

std::string FourPartVersion(std::string_view version) {
  unsigned parts[4] = {0, 0, 0, 0};
  std::size_t position = 0;
  for (int index = 0; index < 4 && position < version.size(); ++index) {
    const std::size_t start = position;
    unsigned long value = 0;
    while (position < version.size() && version[position] >= '0' && version[position] <= '9') {
      value = (value * 10 + static_cast<unsigned>(version[position] - '0')) & 0xffffffu;
      ++position;
    }
    if (position == start) {
      if (index == 0) return {};
      break;
    }
    parts[index] = static_cast<unsigned>(value & 0xffffu);
    if (position < version.size() && version[position] == '.') {
      ++position;
    } else {
      break;
    }
  }
  char text[32];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
  return text;
}

std::string OwnVersion() { return FourPartVersion(CORVANE_VERSION); }

ProductIdentity OwnProductIdentity() { return {kProductName, OwnVersion()}; }

}  // namespace corvane
