#include "tasks/file_gathering.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "app/single_instance.h"
#include "fixtures/temp_dir.h"

namespace corvane {
namespace {

void Touch(const std::string& path) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path) << "x";
}

TEST(WalkFolder, ListsOwnFilesFirstThenLevelByLevelWithoutEnteringLinkedDirectories) {
  test::TempDir dir;
  const std::string top = dir / "top";
  Touch(top + "/a/b/deep.exe");
  Touch(top + "/a/mid.dll");
  Touch(top + "/.hidden");
  Touch(top + "/own.sys");
  std::filesystem::create_directory_symlink(top, top + "/a/loop");
  std::filesystem::create_symlink(top + "/own.sys", top + "/a/file-link.sys");
  const std::vector<std::string> files = WalkFolder(top);
  ASSERT_EQ(files.size(), 5u);
  auto position = [&](const std::string& p) {
    return std::find(files.begin(), files.end(), top + p) - files.begin();
  };
  EXPECT_LT(position("/own.sys"), 2);
  EXPECT_LT(position("/.hidden"), 2);
  EXPECT_GE(position("/a/mid.dll"), 2);
  EXPECT_LT(position("/a/file-link.sys"), 4);
  EXPECT_EQ(position("/a/b/deep.exe"), 4);
  EXPECT_TRUE(WalkFolder(dir / "missing").empty());
}

TEST(IsWholeDrive, RootAndMountPointsAreDrivesOrdinaryFoldersAreNot) {
  test::TempDir dir;
  EXPECT_TRUE(IsWholeDrive("/"));
  EXPECT_TRUE(IsWholeDrive("/proc"));
  EXPECT_TRUE(IsWholeDrive("/proc/"));
  EXPECT_FALSE(IsWholeDrive(dir.path()));
  EXPECT_FALSE(IsWholeDrive(dir / "missing"));
  Touch(dir / "file");
  EXPECT_FALSE(IsWholeDrive(dir / "file"));
}

TEST(SingleInstanceLock, TheSecondHolderOfTheSameLockIsRefusedUntilTheFirstEnds) {
  test::TempDir dir;
  const std::string path = dir / "corvanecode.lock";
  auto first = std::make_unique<SingleInstanceLock>(path);
  EXPECT_TRUE(first->acquired());
  EXPECT_FALSE(SingleInstanceLock(path).acquired());
  first.reset();
  EXPECT_TRUE(SingleInstanceLock(path).acquired());
}

}  // namespace
}  // namespace corvane
