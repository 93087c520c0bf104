// The countries the SSL kind offers, in the order of the tab's list, with their codes.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

struct Country {
  const char* code;  // two letters
  const char* name;  // the list item text without its leading blank
};

inline constexpr std::size_t kCountryCount = 154;
inline constexpr std::size_t kDefaultCountryIndex = 27;  // China

extern const std::array<Country, kCountryCount> kCountries;

// The first position whose code is `code` (exact, upper case), if any.
std::optional<std::size_t> CountryIndexOfCode(std::string_view code);

// What typing `typed` into the code field does: a digit or a character beyond ASCII, or two
// or more characters that are no listed code (compared in upper case), empty the field; a
// listed code selects its country, whose code the field then shows.
struct CodeTyping {
  bool clear = false;
  std::optional<std::size_t> select;
};
CodeTyping OnCodeTyped(std::string_view typed);

}  // namespace corvane
