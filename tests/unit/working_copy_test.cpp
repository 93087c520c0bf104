#include "sign/working_copy.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <random>

#include "fixtures/temp_dir.h"

namespace corvane {
namespace {

std::string RandomBytes(std::size_t size) {
  std::mt19937 random(static_cast<unsigned>(size));
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

void Overwrite(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  ::close(fd);
}

// Whichever way the file system copies (a clone, the kernel's copy, a plain copy), the copy
// holds every byte, changes to it stay out of the file until it is published, and publishing
// puts exactly the changed copy in place.
TEST(WorkingCopyFill, CopiesEveryByteAndTouchesTheFileOnlyWhenPublished) {
  struct Case {
    const char* name;
    std::size_t size;
    bool named;
  };
  const Case cases[] = {{"empty", 0, false},
                        {"one page and a byte, unnamed", 4097, false},
                        {"beyond the copy buffer, named", (3u << 20) + 7, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const std::string path = dir / "file.bin";
    const std::string original = RandomBytes(c.size);
    test::WriteFileBytes(path, original);
    const std::string change = "signed";
    std::string changed = original;
    changed.replace(0, std::min(change.size(), changed.size()), change);
    if (changed.size() < change.size()) changed = change;

    {
      SigningTarget target(path);
      WorkingCopy copy(target, c.named);
      copy.Fill(path, [](const std::string&) { return false; });
      EXPECT_EQ(test::ReadFileBytes(copy.path()), original);
      Overwrite(copy.path(), change);
    }
    EXPECT_EQ(test::ReadFileBytes(path), original) << "an unpublished copy changes nothing";

    {
      SigningTarget target(path);
      WorkingCopy copy(target, c.named);
      copy.Fill(path, [](const std::string&) { return false; });
      Overwrite(copy.path(), change);
      copy.Publish(target);
    }
    EXPECT_EQ(test::ReadFileBytes(path), changed);
  }
}

}  // namespace
}  // namespace corvane
