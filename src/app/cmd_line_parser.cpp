#include "app/cmd_line_parser.h"

namespace corvane {
namespace {

constexpr std::string_view kKeyStarters = "-/";
constexpr std::string_view kValueSeparators = " :";
constexpr char kQuote = '"';

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

}  // namespace

CCmdLineParser::CCmdLineParser(std::string_view text) {
  constexpr auto npos = std::string_view::npos;
  std::size_t position = 0;
  for (;;) {
    const std::size_t starter = text.find_first_of(kKeyStarters, position);
    if (starter == npos || starter + 1 >= text.size()) return;
    const std::size_t keyStart = starter + 1;
    const std::size_t separator = text.find_first_of(kValueSeparators, keyStart);
    if (separator == npos) {
      Store(text.substr(keyStart), {});
      return;
    }
    const std::string_view key = text.substr(keyStart, separator - keyStart);
    if (text[separator] == ' ' || separator + 1 == text.size()) {
      Store(key, {});
      position = separator + 1;
      continue;
    }
    std::size_t valueStart = separator + 1;
    std::size_t valueEnd;
    if (text[valueStart] == kQuote) {
      ++valueStart;
      valueEnd = text.find(kQuote, valueStart);
    } else {
      valueEnd = text.find(' ', valueStart);
    }
    if (valueEnd == npos) {
      Store(key, valueStart < text.size() ? text.substr(valueStart) : std::string_view());
      return;
    }
    Store(key, text.substr(valueStart, valueEnd - valueStart));
    position = valueEnd + 1;
  }
}

void CCmdLineParser::Store(std::string_view key, std::string_view value) {
  if (key.empty()) return;
  values_[Lower(key)] = std::string(value);
}

std::optional<std::string> CCmdLineParser::GetVal(std::string_view key) const {
  const auto found = values_.find(Lower(key));
  if (found == values_.end()) return std::nullopt;
  return found->second;
}

}  // namespace corvane
