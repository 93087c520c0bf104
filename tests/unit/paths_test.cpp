#include "base/paths.h"

#include <gtest/gtest.h>

#include <string>

#include "fixtures/scoped_env.h"
#include "fixtures/temp_dir.h"

namespace corvane {
namespace {

struct PathCase {
  const char* path;
  const char* name;
  const char* directory;
  const char* prefix;
};

TEST(Paths, SplitIntoDirectoryAndName) {
  const PathCase cases[] = {
      {"/home/u/a.exe", "a.exe", "/home/u", "/home/u/"},
      {"a.exe", "a.exe", ".", ""},
      {"/a.exe", "a.exe", "/", "/"},
      {"dir/", "", "dir", "dir/"},
      {"", "", ".", ""},
      {"rel/dir/b.cab", "b.cab", "rel/dir", "rel/dir/"},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(FileNameOf(c.path), c.name);
    EXPECT_EQ(DirectoryOf(c.path), c.directory);
    EXPECT_EQ(DirectoryPrefixOf(c.path), c.prefix);
    // The prefix and the name give the path back.
    EXPECT_EQ(DirectoryPrefixOf(c.path) + FileNameOf(c.path), c.path);
  }
}

TEST(Paths, TemporaryDirectoryFollowsTmpdirWithoutTrailingSlash) {
  test::TempDir dir;
  {
    test::ScopedEnv tmp("TMPDIR", dir.path() + "/");
    EXPECT_EQ(TemporaryDirectory(), dir.path());
  }
  {
    test::ScopedEnv tmp("TMPDIR", "/does/not/exist");
    EXPECT_EQ(TemporaryDirectory(), "/tmp");
  }
}

}  // namespace
}  // namespace corvane
