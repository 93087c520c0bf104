#include "sign/sign_type.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(SignType, ClassifiesByLastExtensionOnly) {
  struct Case {
    const char* path;
    const char* type;
    bool signable;
  };
  const Case cases[] = {
      {"/drivers/Driver.SYS", kPeKernelType, true},
      {"setup.Exe", kPeType, true},
      {"lib.dll", kPeType, true},
      {"ctl.OCX", kPeType, true},
      {"boot.efi", kPeType, true},
      {"archive.tar.cab", kCabType, true},
      {"KB123.msu", kCabType, true},
      {"drv.cat", kCatType, true},
      {"setup.msi", kMsiType, true},
      {"app.jar", kJavaType, false},
      {"app.apk", kJavaType, false},
      {"doc.pdf", kPdfType, false},
      {"README", kUnsupportedType, false},
      {"trailing.", kUnsupportedType, false},
      {"/dir.exe/noext", kUnsupportedType, false},
      {"", kUnsupportedType, false},
      {"notes.txt", kUnsupportedType, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetSignType(c.path), c.type) << c.path;
    EXPECT_EQ(IsSignable(c.path), c.signable) << c.path;
  }
}

TEST(SignType, DriverInListIgnoresCase) {
  EXPECT_TRUE(HasDriverInList({"a.exe", "/x/B.Sys"}));
  EXPECT_FALSE(HasDriverInList({"a.exe", "sys", "a.sys.cab"}));
  EXPECT_FALSE(HasDriverInList({}));
}

}  // namespace
}  // namespace corvane
