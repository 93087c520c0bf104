#include "net/timestamp_setting.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "fixtures/scoped_env.h"
#include "fixtures/temp_dir.h"
#include "net/server_hosts.h"

namespace corvane {
namespace {

TEST(TimestampSetting, AcceptsHostsAndHostPortsOnly) {
  struct Case {
    const char* host;
    bool valid;
  } cases[] = {
      {"timestamp.example.com", true},
      {"127.0.0.1:8080", true},
      {"[::1]:318", true},
      {"[fe80::1]", true},
      {"host:65535", true},
      {"host:0", false},
      {"host:65536", false},
      {"host:", false},
      {"http://host", false},
      {"host/path", false},
      {"-host", false},
      {"[::1]x", false},
      {"ho st", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(!InvalidTimestampHost({"good.example", c.host}), c.valid) << c.host;
  EXPECT_EQ(InvalidTimestampHost({"a:1", "bad/", "worse/"}), "bad/");
}

class TimestampSettingFile : public ::testing::Test {
 protected:
  void TearDown() override { ClearServerOverrides(); }
  test::TempDir dir_;
  test::ScopedEnv programDir_{"CORVANECODE_PROGRAM_DIR", dir_.path()};
  test::ScopedEnv noHosts_{kTimestampHostVariable, ""};
};

TEST_F(TimestampSettingFile, IsSavedLoadedAndRemoved) {
  EXPECT_TRUE(LoadTimestampHostsSetting().empty());  // nothing saved yet
  ASSERT_TRUE(SaveTimestampHostsSetting({"a.example:8080", "b.example"}));
  EXPECT_EQ(SettingsFilePath(), dir_ / "Config/Settings.xml");
  EXPECT_EQ(LoadTimestampHostsSetting(), (std::vector<std::string>{"a.example:8080", "b.example"}));
  ASSERT_TRUE(SaveTimestampHostsSetting({}));
  EXPECT_FALSE(std::filesystem::exists(SettingsFilePath()));
  EXPECT_TRUE(SaveTimestampHostsSetting({}));  // nothing to remove is fine

  // A hand-edited file that names no sensible host is not used.
  test::WriteFileBytes(SettingsFilePath(),
                       "<config><timestamp><host>http://x/</host></timestamp></config>");
  EXPECT_TRUE(LoadTimestampHostsSetting().empty());
  test::WriteFileBytes(SettingsFilePath(), "not xml");
  EXPECT_TRUE(LoadTimestampHostsSetting().empty());
}

TEST_F(TimestampSettingFile, StandsBelowTheEnvironmentAndTheCommandLine) {
  ASSERT_TRUE(SaveTimestampHostsSetting({"saved.example"}));
  ApplyTimestampHostsSetting();
  EXPECT_EQ(TimestampHosts(), std::vector<std::string>{"saved.example"});
  {
    test::ScopedEnv fromEnvironment(kTimestampHostVariable, "env.example, env2.example");
    EXPECT_TRUE(TimestampHostsFromEnvironment());
    EXPECT_EQ(TimestampHosts(), (std::vector<std::string>{"env.example", "env2.example"}));
  }
  SetTimestampHosts({"option.example"});
  EXPECT_EQ(TimestampHosts(), std::vector<std::string>{"option.example"});
  ClearServerOverrides();
  EXPECT_EQ(TimestampHosts(), std::vector<std::string>{"timestamp.corvane.example"});
}

}  // namespace
}  // namespace corvane
