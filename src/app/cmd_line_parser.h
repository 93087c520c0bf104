// The start-up command line as a map from key to value. A key begins after "-" or "/" and
// ends at a space or ":"; after ":" comes its value, which runs to the next space, or, when it
// begins with a double quote, to the next double quote (the quotes are not kept). Keys are
// compared without regard to case: they are stored and looked up in lower case.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

class CCmdLineParser {
 public:
  explicit CCmdLineParser(std::string_view commandLine);

  // The value of `key` (possibly empty) when the key is present.
  std::optional<std::string> GetVal(std::string_view key) const;
  bool HasKey(std::string_view key) const { return GetVal(key).has_value(); }
  const std::map<std::string, std::string>& values() const { return values_; }

 private:
  void Store(std::string_view key, std::string_view value);

  std::map<std::string, std::string> values_;
};

}  // namespace corvane
