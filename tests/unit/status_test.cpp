#include "base/status.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

std::string Caught(void (*raise)()) {
  try {
    raise();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "nothing raised";
}

TEST(Status, SucceedIsNotAFailureButCapitalisedIs) {
  const ExceptionEx succeed(StatusCode::Succeed);
  EXPECT_TRUE(IsSucceed(succeed));
  EXPECT_FALSE(IsFailure(succeed));
  try {
    RaiseStatus("Succeed");
  } catch (const std::exception& e) {
    EXPECT_TRUE(IsFailure(e));
    StatusCode code;
    EXPECT_FALSE(StatusCodeFromText(e.what(), &code));
  }
}

TEST(Status, EveryTextRoundTripsThroughItsCode) {
  for (int i = 0; i <= static_cast<int>(kLastStatusCode); ++i) {
    StatusCode code = static_cast<StatusCode>(i);
    StatusCode back;
    ASSERT_TRUE(StatusCodeFromText(StatusCodeText(code), &back));
    EXPECT_EQ(back, code);
  }
  EXPECT_STREQ(StatusCodeText(StatusCode::SignSucceedTimestampFailed),
               "sign succeed, timestamp failed");
  EXPECT_STREQ(StatusCodeText(StatusCode::SmartCardNotSupportSha2),
               "smart card not support sha2 algorithm");
  EXPECT_STREQ(StatusCodeText(StatusCode::NoSpaceLeft), "no space left on device");
  EXPECT_STREQ(StatusCodeText(StatusCode::FileIsDamaged), "file is damaged");
}

TEST(Status, CompositeTextIsAFailureMatchingNoCode) {
  std::string text =
      Caught([] { RaiseStatus("%s, %s", "CabFileSign::EmbedSignedData", "undefined"); });
  EXPECT_EQ(text, "CabFileSign::EmbedSignedData, undefined");
  StatusCode code;
  EXPECT_FALSE(StatusCodeFromText(text, &code));
}

TEST(Status, PlainFormatWithoutArgumentsIsExact) {
  EXPECT_EQ(Caught([] { RaiseStatus("file not exist"); }), "file not exist");
}

TEST(Status, ForwardedThroughThreeHandlersKeepsItsText) {
  auto level1 = [] {
    try {
      RaiseStatus(StatusCode::FileIsInUse);
    } catch (const std::exception& e) {
      RethrowIfFailed(e);
    }
  };
  auto level2 = [&] {
    try {
      level1();
    } catch (const std::exception& e) {
      RethrowIfFailed(e);
    }
  };
  try {
    try {
      level2();
    } catch (const std::exception& e) {
      RethrowIfFailed(e);
    }
    FAIL() << "nothing raised";
  } catch (const std::exception& e) {
    EXPECT_TRUE(HasStatus(e, StatusCode::FileIsInUse));
  }
}

TEST(Status, RethrowIfFailedLetsSucceedPass) {
  ExceptionEx ok(StatusCode::Succeed);
  EXPECT_NO_THROW(RethrowIfFailed(ok));
}

TEST(Status, LongTextIsCutAtACharacterBoundary) {
  std::string path(1100, 'a');
  path.replace(1021, 3, "文");  // bytes 1021..1023 straddle the limit
  try {
    RaiseStatus("%s", path.c_str());
  } catch (const std::exception& e) {
    std::string text = e.what();
    EXPECT_EQ(text.size(), 1021u);
    EXPECT_EQ(text, path.substr(0, 1021));
  }
  EXPECT_EQ(Caught([] { RaiseStatus("%s", std::string(2000, 'x').c_str()); }).size(),
            kMaxStatusLength);
}

}  // namespace
}  // namespace corvane
