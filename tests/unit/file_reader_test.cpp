// Small reads near the start of a file come from one kept read of that region: what is written
// or cut through the same object must show at once.
#include "formats/file_reader.h"

#include <gtest/gtest.h>

#include "fixtures/temp_dir.h"

namespace corvane::formats {
namespace {

TEST(FileReader, KeptHeadFollowsEveryWriteAndResize) {
  test::TempDir dir;
  const std::string path = dir / "file.bin";
  test::WriteFileBytes(path, std::string(100, 'a'));
  FileEditor file(path);
  EXPECT_EQ(file.U32At(10), 0x61616161u);
  file.WriteU32At(10, 0x01020304);
  EXPECT_EQ(file.U32At(10), 0x01020304u);
  EXPECT_EQ(file.ReadAt(9, 6), std::string("a\x04\x03\x02\x01"
                                           "a"));
  file.WriteAt(120, "tail");  // grows the file past what was kept
  EXPECT_EQ(file.ReadAt(120, 4), "tail");
  EXPECT_EQ(file.ReadAt(100, 2), std::string(2, '\0'));
  file.Resize(12);
  EXPECT_THROW(file.U32At(10), FileRangeError);
  EXPECT_EQ(file.U16At(10), 0x0304u);
  // Another writer's change after the head was kept is not seen by small reads there, but
  // reads past it still notice a file that shrank.
  test::WriteFileBytes(path, std::string(8192, 'b'));
  FileReader reader(path);
  EXPECT_EQ(reader.U16At(0), 0x6262u);
  test::WriteFileBytes(path, "");
  EXPECT_EQ(reader.U16At(2), 0x6262u);
  EXPECT_THROW(reader.U32At(5000), FileRangeError);
}

}  // namespace
}  // namespace corvane::formats
