#include "tasks/create_cab.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "base/window_keys.h"
#include "fixtures/cabinets.h"
#include "fixtures/temp_dir.h"
#include "fixtures/tool_rows.h"
#include "tasks/tool_files.h"

namespace corvane {
namespace {

using test::ReadFileBytes;
using test::WriteFileBytes;

// Each test builds its work file in a temporary folder of its own.
class CreateCabTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("TMPDIR");
    if (old) oldTmp_ = old;
    std::filesystem::create_directory(dir_ / "tmp");
    setenv("TMPDIR", (dir_ / "tmp").c_str(), 1);
    setenv("CORVANECODE_PROGRAM_DIR", dir_.path().c_str(), 1);
  }
  void TearDown() override {
    if (oldTmp_.empty())
      unsetenv("TMPDIR");
    else
      setenv("TMPDIR", oldTmp_.c_str(), 1);
    unsetenv("CORVANECODE_PROGRAM_DIR");
  }
  std::string File(const std::string& name, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(dir_ / name).parent_path());
    WriteFileBytes(dir_ / name, content);
    return dir_ / name;
  }
  std::vector<SignTask> Rows(const std::vector<std::string>& paths) {
    std::vector<SignTask> rows;
    for (const std::string& p : paths) rows.push_back({p, texts_.Get("UiTaskStateWait")});
    return rows;
  }
  std::string Log() { return ReadFileBytes(dir_ / "RunLog/corvane_tests.log"); }

  test::TempDir dir_;
  std::string oldTmp_;
  const SkinTexts texts_ = GetSkinLan(kGuiWndOwner, kGuiWndKeys);
};

TEST_F(CreateCabTest, EveryRowGoesInUnderItsBareNameAndTheProductIsStored) {
  const std::string a = File("one/readme.txt", "first readme\n");
  const std::string b = File("two/readme.txt", "second readme, same bare name\n");
  const std::string c = File("two/数据.bin", test::PatternBytes(100000, 1));
  std::vector<SignTask> rows = Rows({a, b, c});
  std::vector<std::size_t> changed;
  auto seen = [&](std::size_t row) { changed.push_back(row); };
  const std::string product = dir_ / "out/tool.cab";
  std::filesystem::create_directory(dir_ / "out");
  WriteFileBytes(product, "an older product");

  EXPECT_EQ(test::CreateCabInto(rows, product, texts_, {}, seen), product);
  for (const SignTask& row : rows) EXPECT_EQ(row.state, "Complete");
  EXPECT_EQ(changed, (std::vector<std::size_t>{0, 1, 2}));
  EXPECT_FALSE(std::filesystem::exists(GetTempFilePath("corvanetemp.cab", "")))
      << "the work file is gone once the product is stored";
  EXPECT_EQ(GetTempFilePath("/any/dir/corvanetemp.cab", ".x"), dir_ / "tmp/corvanetemp.cab.x");
  // Both readme.txt entries are stored; an extractor keeps the last one of that name.
  const std::string bytes = ReadFileBytes(product);
  EXPECT_EQ(bytes[28], 3) << "three entries";
  EXPECT_EQ(test::ExtractCabinet(product, dir_ / "x"),
            (std::map<std::string, std::string>{{"readme.txt", "second readme, same bare name\n"},
                                                {"数据.bin", ReadFileBytes(c)}}));
  for (const auto& entry : std::filesystem::directory_iterator(dir_ / "out"))
    EXPECT_EQ(entry.path().filename(), "tool.cab") << "nothing left beside the product";
}

TEST_F(CreateCabTest, TheFirstFailingRowEndsTheRunAndNothingIsStored) {
  const std::string first = File("first.txt", "first");
  const std::string third = File("third.txt", "third");
  const std::string locked = File("locked.txt", "locked");
  std::filesystem::permissions(locked, std::filesystem::perms::none);
  struct Case {
    const char* name;
    std::string second;
  };
  std::vector<Case> cases = {{"vanished", dir_ / "vanished.txt"}, {"a_folder", dir_ / "tmp"}};
  if (::geteuid() != 0) cases.push_back({"unreadable", locked});  // root reads it all the same
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string product = dir_ / (std::string(c.name) + ".cab");
    WriteFileBytes(product, "kept");
    std::vector<SignTask> rows = Rows({first, c.second, third});
    EXPECT_EQ(test::CreateCabInto(rows, product, texts_), "");
    EXPECT_EQ(rows[0].state, "Complete");
    EXPECT_EQ(rows[1].state, "Error:Failed");
    EXPECT_EQ(rows[2].state, "Waiting...");
    EXPECT_EQ(ReadFileBytes(product), "kept");
    EXPECT_NE(Log().find("CGuiWnd::CreateCab, " + c.second + ", failed"), std::string::npos);
    // The work file stays, a complete cabinet of the rows before the failing one.
    EXPECT_EQ(test::ExtractCabinet(GetTempFilePath("corvanetemp.cab", ""), dir_ / "x"),
              (std::map<std::string, std::string>{{"first.txt", "first"}}));
  }
}

TEST_F(CreateCabTest, StopOrNoProductPathStoresNothing) {
  const std::string file = File("a.txt", "a");
  std::stop_source stop;
  stop.request_stop();
  std::vector<SignTask> rows = Rows({file});
  EXPECT_EQ(test::CreateCabInto(rows, dir_ / "stopped.cab", texts_, stop.get_token()), "");
  EXPECT_EQ(rows[0].state, "Waiting...");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "stopped.cab"));

  rows = Rows({file});
  EXPECT_EQ(test::CreateCabInto(rows, "", texts_), "");
  EXPECT_EQ(rows[0].state, "Complete");
  EXPECT_FALSE(std::filesystem::exists(GetTempFilePath("corvanetemp.cab", "")))
      << "a cancelled save leaves no work file behind";
}

TEST_F(CreateCabTest, AProductThatCannotBeStoredIsAFailure) {
  const std::string file = File("a.txt", "a");
  std::vector<SignTask> rows = Rows({file});
  try {
    test::CreateCabInto(rows, dir_ / "no-such-folder/product.cab", texts_);
    ADD_FAILURE() << "no failure raised";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "CGuiWnd::CreateCab, undefined,");
  }
  EXPECT_NE(Log().find("CGuiWnd::CreateCab, undefined"), std::string::npos);
}

TEST(CopyFileForceTest, ReplacesAReadOnlyTargetWhole) {
  test::TempDir dir;
  WriteFileBytes(dir / "source", "new content");
  WriteFileBytes(dir / "target", "old");
  std::filesystem::permissions(dir / "source", std::filesystem::perms::owner_read);
  std::filesystem::permissions(
      dir / "target", std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
  EXPECT_TRUE(CopyFileForce(dir / "source", dir / "target"));
  EXPECT_EQ(ReadFileBytes(dir / "target"), "new content");
  EXPECT_EQ(std::filesystem::status(dir / "target").permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                std::filesystem::perms::group_read);
  EXPECT_FALSE(CopyFileForce(dir / "missing", dir / "target"));
  EXPECT_EQ(ReadFileBytes(dir / "target"), "new content");
}

}  // namespace
}  // namespace corvane
