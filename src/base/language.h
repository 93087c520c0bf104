// Language tables: one Chinese and one English table compiled into the program, each a
// UTF-8 XML document <config><skin><Key val="text"/>...</skin></config>. Every window loads
// the texts of its own keys once, when it is constructed.
#pragma once

#include <map>
#include <span>
#include <string>
#include <string_view>

namespace corvane {

enum class UiLanguage { Chinese, English };

// Chinese for any locale whose language is Chinese ("zh", "zh_CN.UTF-8", "zh_TW", "zh_HK.Big5"…),
// English for every other locale, "C" and "POSIX" included.
UiLanguage LanguageFromLocale(std::string_view localeName);

// The language of this process: chosen once from LC_ALL, LC_MESSAGES or LANG (the first one
// set), unless SetUiLanguage chose it.
UiLanguage CurrentUiLanguage();
void SetUiLanguage(UiLanguage language);

// The texts one window loaded, by key. A key the table lacks reads as an empty text.
class SkinTexts {
 public:
  const std::string& Get(std::string_view key) const;
  void Set(std::string key, std::string text) { texts_[std::move(key)] = std::move(text); }

 private:
  std::map<std::string, std::string, std::less<>> texts_;
};

// Reads `keys` from a table's bytes: for each key the first element of that name under
// config/skin, its attribute "val". Raises "Invalid UTF-8 sequence." for bad text.
SkinTexts ReadSkinTexts(std::string_view tableBytes, std::span<const char* const> keys);

// Loads `keys` from the table of the current language. Failures are logged as
// "<owner>::GetSkinLan, <status>" and raised again.
SkinTexts GetSkinLan(std::string_view owner, std::span<const char* const> keys);
SkinTexts GetSkinLan(std::string_view owner, std::span<const char* const> keys,
                     UiLanguage language);

}  // namespace corvane
