#include "base/language.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <pugixml.hpp>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/program_dir.h"
#include "base/resources.h"
#include "base/run_log.h"
#include "base/window_keys.h"
#include "fixtures/temp_dir.h"

namespace corvane {
namespace {

struct Window {
  const char* owner;
  std::span<const char* const> keys;
};

const Window kWindows[] = {
    {kGuiWndOwner, kGuiWndKeys},
    {kCsrToolOwner, kCsrToolKeys},
    {kCrossCertWndOwner, kCrossCertWndKeys},
    {kCertToolOwner, kCertToolKeys},
    {kVerWndOwner, kVerWndKeys},
    {kFeedbackWndOwner, kFeedbackWndKeys},
    {kGuiWndOwner, kGuiDialogKeys},
};

const char* LanguageName(UiLanguage language) {
  return language == UiLanguage::Chinese ? "Chinese" : "English";
}

std::vector<std::string> TableKeys(int resourceId) {
  std::string_view bytes = FindResource("XML", resourceId);
  pugi::xml_document document;
  EXPECT_TRUE(document.load_buffer(bytes.data(), bytes.size()));
  std::vector<std::string> keys;
  for (pugi::xml_node node : document.child("config").child("skin").children()) {
    keys.emplace_back(node.name());
  }
  return keys;
}

TEST(Language, EveryWindowFindsEveryKeyInBothTables) {
  for (UiLanguage language : {UiLanguage::Chinese, UiLanguage::English}) {
    for (const Window& window : kWindows) {
      SkinTexts texts = GetSkinLan(window.owner, window.keys, language);
      for (const char* key : window.keys) {
        EXPECT_FALSE(texts.Get(key).empty())
            << LanguageName(language) << " table, " << window.owner << ": " << key;
      }
    }
  }
}

TEST(Language, BothTablesHoldTheSameKeysAndOnlyKeysSomeWindowLoads) {
  std::vector<std::string> chinese = TableKeys(kResChineseTable);
  EXPECT_EQ(chinese, TableKeys(kResEnglishTable));
  std::set<std::string> loaded;
  for (const Window& window : kWindows) loaded.insert(window.keys.begin(), window.keys.end());
  for (const std::string& key : chinese) EXPECT_TRUE(loaded.count(key)) << key;
}

TEST(Language, EmbeddedTextsAreExact) {
  struct Case {
    UiLanguage language;
    Window window;
    const char* key;
    std::string_view text;
  };
  const Case cases[] = {
      {UiLanguage::English, kWindows[0], "UiTaskStateWait", "Waiting..."},
      {UiLanguage::Chinese, kWindows[0], "UiTaskStateWait", "等待..."},
      {UiLanguage::English, kWindows[0], "WebSiteHelp",
       "https://www.corvane.example/english/contact.asp"},
      {UiLanguage::Chinese, kWindows[0], "WebSiteHome", "https://www.corvane.example/"},
      {UiLanguage::Chinese, kWindows[4], "BtnExeUpdateName", "关 闭"},
      // Keys repeated in the certificate tab's group keep their first text.
      {UiLanguage::English, kWindows[3], "UiTaskStateLoadControlFailed",
       "Load the control failed,please try again later or use OpenSSL mode"},
      {UiLanguage::English, kWindows[3], "UiTaskStateFilePathIsEmpty",
       "The private key file can not be empty, please select a file"},
      {UiLanguage::Chinese, kWindows[3], "UiGloErrCertPathErr", "证书文件不存在！"},
      // The check results are multi-line printf formats.
      {UiLanguage::English, kWindows[1], "UiTaskStateCheckCsrRet",
       "Version:%d,   Encryption algorithm:%s,   Length:%d bit,\r\nSignature Algorithm: %s,\r\n"
       "User Information:\r\n%s"},
      {UiLanguage::English, kWindows[1], "UiTaskStateCheckCsrRetWithWin7",
       "Signature Algorithm:%s,   Encryption algorithm:%s,   Length:%d bit,\r\n"
       "User Information: %s"},
      {UiLanguage::Chinese, kWindows[1], "UiTaskStateCheckCsrRet",
       "版本：%d，   加密算法：%s，   长度：%d 位，\r\n签名算法：%s，\r\n用户信息：\r\n%s"},
  };
  for (const Case& c : cases) {
    SkinTexts texts = GetSkinLan(c.window.owner, c.window.keys, c.language);
    EXPECT_EQ(texts.Get(c.key), c.text) << LanguageName(c.language) << ", " << c.key;
  }
}

TEST(Language, MissingKeyOfTheEmbeddedTableIsEmptyAndNotLogged) {
  test::TempDir dir;
  SetProgramDirectory(dir.path());
  const char* const keys[] = {"NoSuchKey"};
  SkinTexts texts = GetSkinLan(kGuiWndOwner, keys, UiLanguage::English);
  SetProgramDirectory("");
  EXPECT_EQ(texts.Get("NoSuchKey"), "");
  EXPECT_FALSE(std::filesystem::exists(dir / "RunLog"));
}

TEST(Language, LanguageFromLocale) {
  struct Case {
    const char* locale;
    UiLanguage language;
  };
  const Case cases[] = {
      {"zh_CN.UTF-8", UiLanguage::Chinese},
      {"zh_TW", UiLanguage::Chinese},
      {"zh_HK.Big5", UiLanguage::Chinese},
      {"zh", UiLanguage::Chinese},
      {"en_US.UTF-8", UiLanguage::English},
      {"C", UiLanguage::English},
      {"POSIX", UiLanguage::English},
      {"de_DE", UiLanguage::English},
      {"", UiLanguage::English},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LanguageFromLocale(c.locale), c.language) << '"' << c.locale << '"';
  }
}

TEST(Skin, ReadSkinTextsLooksUpTheFirstElementOfEachKey) {
  struct Case {
    const char* what;
    std::string_view table;
    const char* key;
    std::string_view text;
  };
  const Case cases[] = {
      {"missing key", R"(<config><skin><A val="a"/></skin></config>)", "B", ""},
      {"missing attribute", R"(<config><skin><A text="a"/></skin></config>)", "A", ""},
      {"first occurrence", R"(<config><skin><A val="1"/><B val="b"/><A val="2"/></skin></config>)",
       "A", "1"},
      {"case-sensitive key", R"(<config><skin><A val="a"/></skin></config>)", "a", ""},
      {"outside skin", R"(<config><A val="a"/><skin/></config>)", "A", ""},
      {"byte-order mark", "\xEF\xBB\xBF<config><skin><A val=\"a\"/></skin></config>", "A", "a"},
      {"references", R"(<config><skin><A val="&amp;&quot;&lt;&#13;&#10;%s"/></skin></config>)", "A",
       "&\"<\r\n%s"},
      {"literal line break", "<config><skin><A val=\"x\n y \"/></skin></config>", "A", "x\n y "},
  };
  for (const Case& c : cases) {
    const char* const keys[] = {c.key};
    EXPECT_EQ(ReadSkinTexts(c.table, keys).Get(c.key), c.text) << c.what;
  }
}

TEST(Skin, ReadSkinTextsReadsExactlyTheGivenBytes) {
  // Past the table's end lie more elements and a byte that is not UTF-8.
  const std::string buffer = R"(<config><skin><A val="a"/></skin></config><B val="b"/>)"
                             "\xFF";
  std::string_view table(buffer.data(), buffer.find("<B"));
  const char* const keys[] = {"A", "B"};
  SkinTexts texts = ReadSkinTexts(table, keys);
  EXPECT_EQ(texts.Get("A"), "a");
  EXPECT_EQ(texts.Get("B"), "");
}

TEST(Skin, ReadSkinTextsRejectsInvalidUtf8) {
  const char* const keys[] = {"A"};
  try {
    ReadSkinTexts("<config><skin><A val=\"\xC0\xAF\"/></skin></config>", keys);
    FAIL() << "nothing raised";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Invalid UTF-8 sequence.");
  }
}

}  // namespace
}  // namespace corvane
