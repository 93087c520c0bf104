#include "base/sibling_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "base/file_publish.h"
#include "fixtures/temp_dir.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Names(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory))
    names.push_back(entry.path().filename().string());
  return names;
}

void Fill(SiblingFile& file, const std::string& bytes) {
  ASSERT_TRUE(WriteAll(file.descriptor(), bytes));
}

TEST(SiblingFile, CommitPutsTheWholeFileInPlaceWithItsMode) {
  test::TempDir dir;
  const std::string target = dir / "out.bin";
  test::WriteFileBytes(target, "old");
  SiblingFile file;
  ASSERT_TRUE(file.Create(target, 0640));
  EXPECT_EQ(fs::path(file.path()).parent_path(), fs::path(dir.path()));
  EXPECT_EQ(fs::path(file.path()).filename().string().rfind(".out.bin.part-", 0), 0u);
  Fill(file, "new bytes");
  EXPECT_EQ(test::ReadFileBytes(target), "old");  // untouched until the commit
  ASSERT_TRUE(file.Commit(true));
  EXPECT_EQ(test::ReadFileBytes(target), "new bytes");
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"out.bin"});
}

TEST(SiblingFile, WhatIsNotCommittedLeavesNothingBehind) {
  test::TempDir dir;
  const std::string target = dir / "keep.txt";
  test::WriteFileBytes(target, "as it was");
  {
    SiblingFile dropped;
    ASSERT_TRUE(dropped.Create(target, 0644));
    Fill(dropped, "half");
  }
  SiblingFile discarded;
  ASSERT_TRUE(discarded.Create(target, 0644, ".corvane-XXXXXX"));
  Fill(discarded, "half");
  discarded.Discard();
  discarded.Discard();  // twice is harmless
  EXPECT_FALSE(discarded.Commit(false));
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(test::ReadFileBytes(target), "as it was");
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"keep.txt"});
}

TEST(SiblingFile, FailuresSayWhyAndLeaveNoFile) {
  test::TempDir dir;
  SiblingFile missingDirectory;
  EXPECT_FALSE(missingDirectory.Create(dir / "no/such/file", 0644));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(missingDirectory.descriptor(), -1);

  SiblingFile noName;
  EXPECT_FALSE(noName.Create(dir.path() + "/", 0644));
  EXPECT_EQ(errno, EINVAL);

  // A directory where the file should go: the rename fails and the directory stays.
  const std::string target = dir / "taken";
  fs::create_directory(target);
  test::WriteFileBytes(target + "/inside", "x");
  SiblingFile blocked;
  ASSERT_TRUE(blocked.Create(target, 0644));
  Fill(blocked, "bytes");
  EXPECT_FALSE(blocked.Commit(false));
  EXPECT_NE(errno, 0);
  EXPECT_EQ(test::ReadFileBytes(target + "/inside"), "x");
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"taken"});
}

TEST(SiblingFile, ALongNameStaysWithinTheNameLimit) {
  test::TempDir dir;
  const std::string target = dir / std::string(250, 'n');
  SiblingFile file;
  ASSERT_TRUE(file.Create(target, 0600));
  EXPECT_LE(fs::path(file.path()).filename().string().size(), 255u);
  Fill(file, "long");
  ASSERT_TRUE(file.Commit(false));
  EXPECT_EQ(test::ReadFileBytes(target), "long");
}

}  // namespace
}  // namespace corvane
