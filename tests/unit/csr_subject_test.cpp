#include "csr/csr_subject.h"

#include <gtest/gtest.h>

#include "csr/country_list.h"

namespace corvane {
namespace {

TEST(ValidateEmail, FollowsTheTabsRule) {
  struct Case {
    const char* address;
    bool valid;
  } cases[] = {
      {"ab@c.com", true},              // two-character local part, one-letter domain
      {"  user@example.cn \t", true},  // trimmed before the test
      {"first.last_1-x@mail.example.net", true},
      {"user@example.org", false},   // ending not com, net or cn
      {"user@example.COM", false},   // the ending is case-sensitive
      {"user.@example.com", false},  // dot right before the at sign
      {"user@.example.com", false},  // dot right after it
      {"user@a.b.c.d.com", false},   // four dots after the at sign
      {"user@a.b.c.com", true},      // three
      {"us@er@example.com", false},
      {"_user@example.com", false},  // first character must be a letter or digit
      {"us er@example.com", false},
      {"usér@example.com", false},
      {"a.com", false},  // no at sign
      {"@.cn", false},
      {"a@b.cn.", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(ValidateEmail(c.address), c.valid) << c.address;
}

TEST(BuildSubject, OrdersTheAttributesByKindAndPlatform) {
  CsrFields f;
  f.publisherName = "Pub";
  f.unitName1 = "Unit1";
  f.commonName = "Name";
  f.email = "ab@c.com";
  f.domainName = "www.example.cn";
  f.unitName2 = "Unit2";
  f.countryCode = "CN";
  struct Case {
    CsrKind kind;
    bool legacy;
    const char* subject;
  } cases[] = {
      {CsrKind::CodeSigning, false, "CN=Pub, O=Unit1"},
      {CsrKind::CodeSigning, true, "O=Unit1, CN=Pub"},
      {CsrKind::Client, false, "CN=Name, E=ab@c.com"},
      {CsrKind::Client, true, "E=ab@c.com, CN=Name"},
      {CsrKind::Ssl, false, "CN=www.example.cn, O=Unit2, C=CN"},
      {CsrKind::Ssl, true, "C=CN, O=Unit2, CN=www.example.cn"},
  };
  for (const Case& c : cases) {
    std::string subject = "old";
    EXPECT_TRUE(BuildSubject(c.kind, f, c.legacy, subject));
    EXPECT_EQ(subject, c.subject);
  }
}

TEST(BuildSubject, RefusesOnlyABadEmailAndKeepsEmptyFields) {
  CsrFields f;
  f.commonName = "Name";
  std::string subject;
  EXPECT_TRUE(BuildSubject(CsrKind::Client, f, false, subject));
  EXPECT_EQ(subject, "CN=Name, E=");
  f.email = "name@example.org";
  EXPECT_FALSE(BuildSubject(CsrKind::Client, f, false, subject));
  EXPECT_EQ(subject, "");
  // The e-mail field belongs to the client kind only.
  EXPECT_TRUE(BuildSubject(CsrKind::CodeSigning, f, false, subject));
}

TEST(SubjectEntriesFor, GivesTheRequestOrderOfEachKind) {
  CsrFields f;
  f.publisherName = "A";
  f.unitName1 = "B";
  f.commonName = "C";
  f.email = "D";
  f.domainName = "E";
  f.unitName2 = "F";
  f.countryCode = "G";
  auto keys = [](const std::vector<zorvat::SubjectEntry>& entries) {
    std::string out;
    for (const auto& e : entries) out += e.key + "=" + e.value + ";";
    return out;
  };
  EXPECT_EQ(keys(SubjectEntriesFor(CsrKind::CodeSigning, f)), "O=A;CN=B;");
  EXPECT_EQ(keys(SubjectEntriesFor(CsrKind::Client, f)), "CN=C;emailAddress=D;");
  EXPECT_EQ(keys(SubjectEntriesFor(CsrKind::Ssl, f)), "CN=E;O=F;C=G;");
}

TEST(CountryList, HoldsTheTabsCountriesWithIsoCodes) {
  EXPECT_EQ(kCountries.size(), 154u);
  EXPECT_STREQ(kCountries.front().code, "AF");
  EXPECT_STREQ(kCountries.back().name, "Zimbabwe");
  EXPECT_STREQ(kCountries[kDefaultCountryIndex].name, "China");
  EXPECT_STREQ(kCountries[kDefaultCountryIndex].code, "CN");
  for (const char* pair : {"CZCzech Republic", "CIIvoryCoast", "PKPakistan", "PSPalestinian",
                           "PAPanama", "PGPapua New Cuinea", "UGUganda", "UAUkraine"}) {
    std::optional<std::size_t> index = CountryIndexOfCode(std::string(pair, 2));
    ASSERT_TRUE(index) << pair;
    EXPECT_STREQ(kCountries[*index].name, pair + 2);
  }
}

TEST(CountryList, TypingACode) {
  struct Case {
    const char* typed;
    bool clear;
    const char* selects;  // null: nothing selected
  } cases[] = {
      {"1", true, nullptr},   {"C", false, nullptr},
      {"cn", false, "China"}, {"US", false, "United States of America"},
      {"QQ", true, nullptr},  {"C\xC3\xA9", true, nullptr},
  };
  for (const Case& c : cases) {
    CodeTyping typing = OnCodeTyped(c.typed);
    EXPECT_EQ(typing.clear, c.clear) << c.typed;
    if (c.selects) {
      ASSERT_TRUE(typing.select) << c.typed;
      EXPECT_STREQ(kCountries[*typing.select].name, c.selects);
    } else {
      EXPECT_FALSE(typing.select) << c.typed;
    }
  }
}

}  // namespace
}  // namespace corvane
