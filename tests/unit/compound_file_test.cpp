#include "formats/cfb/compound_file.h"

#include <gtest/gtest.h>

#include <map>

#include "fixtures/compound_files.h"
#include "fixtures/temp_dir.h"
#include "formats/file_reader.h"

namespace corvane::cfb {
namespace {

std::u16string Utf16(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}
std::string Ascii(const std::u16string& name) {
  std::string out;
  for (char16_t c : name) out.push_back(static_cast<char>(c));
  return out;
}

TEST(CompoundFileNames, TreeOrderIsLengthThenUpperCase) {
  struct Case {
    std::u16string a, b;
    int sign;
  } cases[] = {
      {u"b", u"aa", -1},     {u"abc", u"ABC", 0},       {u"a", u"B", -1},
      {u"Z", u"a", 1},       {u"\u00e9", u"\u00c9", 0}, {u"\u0005Digital", u"\u0005Digitam", -1},
      {u"x", u"\u4840", -1},
  };
  for (const Case& c : cases) {
    int r = CompareNames(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << Ascii(c.a) << " vs " << Ascii(c.b);
  }
}

// Our edits against a model of the root's streams, checked after each step by libgsf and by
// our own reader (whose tree must stay in name order).
class CompoundFileEdits : public ::testing::TestWithParam<unsigned> {
 protected:
  void SetUp() override {
    test::CompoundNode root;
    root.clsid = {0x84, 0x10, 0x0C, 0x00, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    test::CompoundNode storage{"Storage", true, "", {9, 9, 9}};
    storage.children = {{"inside", false, std::string(4500, 'x')}};
    root.children = {storage};
    for (auto& [name, content] : std::map<std::string, std::string>{
             {"small", "tiny"}, {"big", std::string(20000, 'b')}, {"\x05Info", "info"}}) {
      root.children.push_back({name, false, content});
      model_[name] = content;
    }
    path_ = dir_ / "edit.cfb";
    test::WriteCompoundFile(path_, root, GetParam());
  }

  void Check(const char* step) {
    SCOPED_TRACE(step);
    test::CompoundNode read = test::ReadCompoundFile(path_);
    std::map<std::string, std::string> streams;
    for (const test::CompoundNode& n : read.children) {
      if (n.storage) {
        EXPECT_EQ(n.name, "Storage");
        EXPECT_EQ(n.clsid[0], 9);
        ASSERT_EQ(n.children.size(), 1u);
        EXPECT_EQ(n.children[0].content, std::string(4500, 'x'));
      } else {
        streams[n.name] = n.content;
      }
    }
    EXPECT_EQ(streams.size(), model_.size());
    for (auto& [name, content] : model_) EXPECT_TRUE(streams[name] == content) << name;

    CompoundFile file(path_);
    const std::vector<std::uint32_t>& kids = file.Children(kRootEntry);
    for (std::size_t i = 1; i < kids.size(); ++i)
      EXPECT_LT(CompareNames(file.entry(kids[i - 1]).name, file.entry(kids[i]).name), 0);
    for (auto& [name, content] : model_) {
      std::uint32_t id = file.Find(kRootEntry, Utf16(name));
      ASSERT_NE(id, kNoStream) << name;
      EXPECT_TRUE(file.ReadStreamBytes(id, 64 << 20) == content) << name;
    }
  }

  void Write(const std::string& name, const std::string& content) {
    CompoundFile(path_, true).WriteRootStream(Utf16(name), content);
    model_[name] = content;
  }

  test::TempDir dir_;
  std::string path_;
  std::map<std::string, std::string> model_;
};

TEST_P(CompoundFileEdits, StreamsComeGoAndGrowWhileEverythingElseStays) {
  Check("as written by libgsf");
  const std::string sig =
      "\x05"
      "DigitalSignature";
  Write(sig, std::string(3000, 's'));
  Check("a new stream in the mini stream");
  Write(sig, std::string(6000, 'S'));
  Check("grown out of the mini stream");
  Write(sig, std::string(100, 't'));
  Check("shrunk back into the mini stream");
  Write("big", "now small");
  Check("a large stream made small");
  for (int i = 0; i < 12; ++i) Write("s" + std::to_string(i), std::string(i * 700, 'a' + i));
  Check("enough new streams for more directory sectors");
  for (int i = 0; i < 12; i += 3) {
    EXPECT_TRUE(CompoundFile(path_, true).RemoveRootStream(Utf16("s" + std::to_string(i))));
    model_.erase("s" + std::to_string(i));
  }
  EXPECT_FALSE(CompoundFile(path_, true).RemoveRootStream(u"missing"));
  Check("some removed");
  // Enough sectors for more FAT sectors than the header holds (a DIFAT sector with 512-byte
  // sectors).
  Write("huge", std::string(9 << 20, 'h'));
  Check("a stream larger than the header's FAT slots cover");
  Write(sig, std::string(5000, 'u'));
  Check("rewritten after the file grew");
  EXPECT_THROW(CompoundFile(path_, true).ReplaceRootStream(u"absent", "x"), CfbFormatError);
}

INSTANTIATE_TEST_SUITE_P(BothSectorSizes, CompoundFileEdits, ::testing::Values(512u, 4096u));

// The file offset of the directory entry named `name` (ASCII), found by its bytes.
std::uint64_t EntryOffset(const std::string& bytes, const std::string& name) {
  std::string utf16;
  for (char c : name) utf16 += std::string{c, '\0'};
  utf16 += std::string(2, '\0');
  for (std::size_t at = bytes.find(utf16); at != std::string::npos; at = bytes.find(utf16, at + 1))
    if (at % 128 == 0) return at;
  return 0;
}

TEST(CompoundFileDamage, StreamChainsThatDoNotHoldTheirSizeAreRefused) {
  test::TempDir dir;
  test::CompoundNode root;
  root.children = {{"big", false, std::string(20000, 'b')}};
  const std::string path = test::WriteCompoundFile(dir / "d.cfb", root);
  const std::string good = test::ReadFileBytes(path);
  const std::uint64_t entry = EntryOffset(good, "big");
  ASSERT_NE(entry, 0u);
  struct Case {
    const char* name;
    std::function<void(formats::FileEditor&)> damage;
  } cases[] = {
      {"size beyond the chain", [&](formats::FileEditor& f) { f.WriteU32At(entry + 120, 40000); }},
      {"size beyond the file",
       [&](formats::FileEditor& f) { f.WriteU32At(entry + 120, 1u << 31); }},
      {"start outside the file",
       [&](formats::FileEditor& f) { f.WriteU32At(entry + 116, 0x00FFFFFF); }},
      {"chain loops",
       [&](formats::FileEditor& f) {
         const std::uint32_t start = f.U32At(entry + 116);
         const std::uint64_t fat = (std::uint64_t{f.U32At(76)} + 1) * 512;
         f.WriteU32At(fat + 4 * (start + 3), start);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::WriteFileBytes(path, good);
    {
      formats::FileEditor editor(path);
      c.damage(editor);
    }
    CompoundFile file(path);
    std::uint32_t id = file.Find(kRootEntry, u"big");
    EXPECT_THROW(file.ReadStream(id, [](const unsigned char*, std::size_t) {}), CfbFormatError);
  }
}

}  // namespace
}  // namespace corvane::cfb
