// The running program's product name and file version, as the maker's servers are told them.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

inline constexpr const char* kProductName = "corvanecode";

// The build's version as four dot-separated numbers, "%d.%d.%d.%d" (missing parts are 0).
std::string OwnVersion();

// `version` ("0.1.0", "2.0.0.3"...) as four numbers, each cut to 16 bits like the parts of a
// file version; empty when it does not begin with a number.
std::string FourPartVersion(std::string_view version);

struct ProductIdentity {
  std::string product;
  std::string version;
};
ProductIdentity OwnProductIdentity();

}  // namespace corvane
