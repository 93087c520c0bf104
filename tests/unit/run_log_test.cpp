#include "base/run_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <thread>

#include "base/program_dir.h"
#include "fixtures/temp_dir.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

class RunLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramDirectory(dir_.path());
    SetProgramFileName("corvanecode.exe");
  }
  void TearDown() override {
    SetProgramDirectory("");
    SetProgramFileName("");
  }
  std::string LogFile() const { return dir_.path() + "/RunLog/corvanecode.exe.log"; }
  std::vector<std::string> Archives() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_.path() + "/RunLog"))
      if (entry.path().filename() != "corvanecode.exe.log")
        names.push_back(entry.path().filename());
    return names;
  }

  test::TempDir dir_;
};

TEST_F(RunLogTest, FirstLineCreatesTheDirectoryAndFileWithTheFixedPrefix) {
  LogError("%s, %s", "CGuiWnd::ExeVirusScan", "communication failed");
  LogError("%s", "rate is 100% sure");
  std::string text = test::ReadFileBytes(LogFile());
  std::regex line(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] \[Error\] (.*)\n)");
  std::vector<std::string> messages;
  for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it) {
    EXPECT_EQ(it->str().substr(22, 7), "[Error]");
    messages.push_back((*it)[1]);
  }
  EXPECT_EQ(messages, (std::vector<std::string>{"CGuiWnd::ExeVirusScan, communication failed",
                                                "rate is 100% sure"}));
}

TEST_F(RunLogTest, ArchivesAtTheLimitAndNotOneByteBelow) {
  fs::create_directories(dir_.path() + "/RunLog");
  test::WriteFileBytes(LogFile(), std::string(kRunLogLimit - 1, 'x'));
  LogError("%s", "fits");
  EXPECT_TRUE(Archives().empty());
  EXPECT_GT(fs::file_size(LogFile()), kRunLogLimit);

  test::WriteFileBytes(LogFile(), std::string(kRunLogLimit, 'y'));
  LogError("%s", "new line");
  std::vector<std::string> archives = Archives();
  ASSERT_EQ(archives.size(), 1u);
  EXPECT_TRUE(std::regex_match(
      archives[0], std::regex(R"(corvanecode\.exe_\d{4}-\d\d-\d\d \d\d-\d\d-\d\d\.log)")));
  EXPECT_EQ(fs::file_size(dir_.path() + "/RunLog/" + archives[0]), kRunLogLimit);
  std::string current = test::ReadFileBytes(LogFile());
  EXPECT_EQ(current.substr(22), "[Error] new line\n");
}

TEST(RunLogName, ArchiveNameCarriesLocalDateAndTime) {
  std::tm when{};
  when.tm_year = 2015 - 1900;
  when.tm_mon = 1;
  when.tm_mday = 1;
  when.tm_hour = 9;
  when.tm_min = 5;
  when.tm_sec = 7;
  EXPECT_EQ(ArchivedRunLogName("/opt/RunLog/corvanecode.exe.log", when),
            "/opt/RunLog/corvanecode.exe_2015-02-01 09-05-07.log");
}

TEST_F(RunLogTest, ConcurrentWritersNeverInterleaveAndADeletedDirectoryComesBack) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 50; ++i)
        LogError("thread %d line %d %s", t, i, std::string(200, 'z').c_str());
    });
  for (auto& thread : threads) thread.join();
  std::string text = test::ReadFileBytes(LogFile());
  std::regex line(R"(\[[^\]]+\] \[Error\] thread \d line \d+ z{200}\n)");
  std::size_t count = 0;
  for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it) ++count;
  EXPECT_EQ(count, 200u);

  fs::remove_all(dir_.path() + "/RunLog");
  LogError("%s", "after delete");
  EXPECT_TRUE(fs::exists(LogFile()));
}

TEST_F(RunLogTest, AnUnwritableDirectoryIsSilent) {
  SetProgramDirectory(dir_.path() + "/missing/\x01/none");
  fs::create_directories(dir_.path() + "/missing");
  test::WriteFileBytes(dir_.path() + "/missing/\x01", "a file where a directory should be");
  EXPECT_NO_THROW(LogError("%s", "lost"));
}

}  // namespace
}  // namespace corvane
