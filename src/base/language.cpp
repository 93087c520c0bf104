#include "base/language.h"

#include <atomic>
#include <cstdlib>
#include <pugixml.hpp>

#include "base/resources.h"
#include "base/run_log.h"
#include "base/status.h"
#include "base/utf8.h"

namespace corvane {
namespace {

std::atomic<int> g_language{-1};

UiLanguage LanguageFromEnvironment() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return LanguageFromLocale(value);
  }
  return UiLanguage::English;
}

}  // namespace

UiLanguage LanguageFromLocale(std::string_view localeName) {
  std::string_view language = localeName.substr(0, localeName.find_first_of("_.@-"));
  return language == "zh" ? UiLanguage::Chinese : UiLanguage::English;
}

UiLanguage CurrentUiLanguage() {
  int value = g_language.load();
  if (value < 0) {
    value = static_cast<int>(LanguageFromEnvironment());
    int expected = -1;
    if (!g_language.compare_exchange_strong(expected, value)) value = expected;
  }
  return static_cast<UiLanguage>(value);
}

void SetUiLanguage(UiLanguage language) { g_language = static_cast<int>(language); }

const std::string& SkinTexts::Get(std::string_view key) const {
  static const std::string empty;
  auto it = texts_.find(key);
  return it == texts_.end() ? empty : it->second;
}

SkinTexts ReadSkinTexts(std::string_view tableBytes, std::span<const char* const> keys) {
  if (!IsValidUtf8(tableBytes)) RaiseStatus("Invalid UTF-8 sequence.");
  pugi::xml_document document;
  // Attribute whitespace is kept as written: texts may hold line breaks.
  unsigned options = pugi::parse_default & ~pugi::parse_wconv_attribute;
  pugi::xml_parse_result parsed =
      document.load_buffer(tableBytes.data(), tableBytes.size(), options, pugi::encoding_utf8);
  SkinTexts texts;
  pugi::xml_node skin = document.child("config").child("skin");
  for (const char* key : keys) {
    std::string text;
    if (parsed) text = skin.child(key).attribute("val").value();
    texts.Set(key, std::move(text));
  }
  return texts;
}

SkinTexts GetSkinLan(std::string_view owner, std::span<const char* const> keys,
                     UiLanguage language) {
  try {
    int id = language == UiLanguage::Chinese ? kResChineseTable : kResEnglishTable;
    std::string_view table = FindResource("XML", id);
    if (table.data() == nullptr) RaiseStatus("FindResource failed");
    if (table.empty()) RaiseStatus("SizeofResource or LockResource failed");
    return ReadSkinTexts(table, keys);
  } catch (const std::exception& e) {
    LogError("%.*s::GetSkinLan, %s", static_cast<int>(owner.size()), owner.data(), e.what());
    throw ExceptionEx(e.what());
  }
}

SkinTexts GetSkinLan(std::string_view owner, std::span<const char* const> keys) {
  return GetSkinLan(owner, keys, CurrentUiLanguage());
}

}  // namespace corvane
