#include "tasks/create_cat.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <filesystem>

#include "base/program_dir.h"
#include "base/utf8.h"
#include "fixtures/pe_images.h"
#include "fixtures/temp_dir.h"
#include "fixtures/tool_rows.h"
#include "formats/catalog/catalog_file.h"
#include "sign/catalog_member.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

std::string Sha1Tag(const std::string& bytes) {
  unsigned char digest[SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
  return ReferenceTag(std::string(reinterpret_cast<char*>(digest), sizeof digest));
}

class CreateCatRun : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramDirectory(dir_.path());
    SetProgramFileName("corvanecode.exe");
    texts_.Set("UiTaskStateComplete", "Complete");
    texts_.Set("MsgTypeError", "Error:");
    texts_.Set("UiStateUnknownErr", "Unknown error");
    texts_.Set("MsgStateFileUnsupported", "File is not supported");
  }
  void TearDown() override {
    SetProgramDirectory("");
    SetProgramFileName("");
  }
  std::string File(const std::string& name, const std::string& content) {
    std::string path = dir_ / name;
    test::WriteFileBytes(path, content);
    return path;
  }
  std::vector<SignTask> Rows(const std::vector<std::string>& paths) {
    std::vector<SignTask> rows;
    for (const std::string& path : paths) rows.push_back({path, "Waiting..."});
    return rows;
  }
  std::vector<catalog::Member> Members(const std::string& cat) {
    return catalog::ReadMembers(catalog::CtlOf(test::ReadFileBytes(cat)));
  }
  std::string Log() { return test::ReadFileBytes(dir_ / "RunLog/corvanecode.exe.log"); }

  test::TempDir dir_;
  SkinTexts texts_;
};

TEST_F(CreateCatRun, TheFirstFailingRowEndsTheRunAndNothingIsStored) {
  const std::string kCompoundFile("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1 package", 16);
  struct Case {
    const char* name;
    const char* failing;  // content of the failing file; null: the file has vanished
    std::size_t size;
    const char* row;
    const char* logged;
  } cases[] = {
      {"empty member", "", 0, "Error:Unknown error", "file content is empty"},
      {"vanished member", nullptr, 0, "Error:Unknown error", "file content is empty"},
      {"damaged installer package", kCompoundFile.data(), kCompoundFile.size(),
       "Error:File is not supported", "file type is not supported"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string first = File("first.txt", "first");
    std::string failing = dir_ / (std::string(c.name) + ".bin");
    if (c.failing) test::WriteFileBytes(failing, std::string(c.failing, c.size));
    std::string third = File("third.txt", "third");
    std::string product = File("product.cat", "an older catalog");
    std::vector<SignTask> rows = Rows({first, failing, third});
    EXPECT_EQ(test::CreateCatInto(rows, product, texts_), "");
    EXPECT_EQ(rows[0].state, "Complete");
    EXPECT_EQ(rows[1].state, c.row);
    EXPECT_EQ(rows[2].state, "Waiting...");
    EXPECT_EQ(test::ReadFileBytes(product), "an older catalog");
    EXPECT_NE(Log().find("CGuiWnd::CreateCat, " + failing + ", " + c.logged), std::string::npos)
        << Log();
  }
  for (const auto& entry : fs::directory_iterator(dir_.path()))
    EXPECT_NE(entry.path().filename().string().front(), '.') << "no work file is left behind";
}

TEST_F(CreateCatRun, AnInfNamesTheCatalogBeforeItIsDigested) {
  std::string inf = File("driver.inf",
                         "; a driver\r\n[VERSION]\r\nSignature=\"$WINDOWS NT$\"\r\n"
                         "  catalogfile = old.cat\r\n\r\n[Strings]\r\nCatalogFile=keep\r\n");
  std::string upper = File("OTHER.INF", "[Version]\r\nCatalogFile=old.cat\r\n");
  std::string image = dir_ / "driver.sys";
  fs::copy_file(test::TestImagePath("driver-x64.sys"), image);
  std::string product = dir_ / "driver.cat";
  std::vector<SignTask> rows = Rows({image, inf, upper});
  ASSERT_EQ(test::CreateCatInto(rows, product, texts_), product);

  const std::string updated = test::ReadFileBytes(inf);
  EXPECT_EQ(updated,
            "; a driver\r\n[VERSION]\r\nSignature=\"$WINDOWS NT$\"\r\n"
            "CatalogFile=driver.cat\r\n\r\n[Strings]\r\nCatalogFile=keep\r\n");
  EXPECT_EQ(test::ReadFileBytes(upper), "[Version]\r\nCatalogFile=old.cat\r\n");
  std::vector<catalog::Member> members = Members(product);
  ASSERT_EQ(members.size(), 3u);
  EXPECT_EQ(members[0].subjectType, catalog::kSubjectPeImage);
  EXPECT_EQ(members[1].referenceTag, Sha1Tag(updated)) << "the digest is of the updated INF";
  EXPECT_EQ(members[1].attributes[0].value, catalog::Utf16Value("driver.inf"));
}

TEST_F(CreateCatRun, WithoutAPlaceToStoreItTheRowsRunAndNothingChanges) {
  const std::string text = "[Version]\nCatalogFile=named.cat\n";
  std::string inf = File("keep.inf", text);
  std::vector<SignTask> rows = Rows({inf});
  EXPECT_EQ(test::CreateCatInto(rows, "", texts_), "");
  EXPECT_EQ(rows[0].state, "Complete");
  EXPECT_EQ(test::ReadFileBytes(inf), text) << "the INF keeps the name it had";

  std::stop_source stop;
  stop.request_stop();
  rows = Rows({inf});
  std::string product = dir_ / "stopped.cat";
  EXPECT_EQ(test::CreateCatInto(rows, product, texts_, stop.get_token()), "");
  EXPECT_EQ(rows[0].state, "Waiting...");
  EXPECT_FALSE(fs::exists(product));
}

TEST_F(CreateCatRun, ACatalogThatCannotBeStoredFailsTheRun) {
  std::string text = File("a.txt", "a");
  std::vector<SignTask> rows = Rows({text});
  try {
    test::CreateCatInto(rows, dir_ / "missing/dir/x.cat", texts_);
    FAIL() << "no failure";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "CGuiWnd::CreateCat, undefined,");
  }
  EXPECT_EQ(rows[0].state, "Complete");
  EXPECT_NE(Log().find("CGuiWnd::CreateCat, undefined"), std::string::npos);
}

TEST_F(CreateCatRun, TheCatalogFileKeyLandsInTheVersionSectionWhateverTheFileLooksLike) {
  struct Case {
    const char* name;
    std::string before;
    std::string after;
  } cases[] = {
      {"key added at the end of the section", "[version]\nSignature=x\n\n[Other]\nA=1\n",
       "[version]\nSignature=x\nCatalogFile=p.cat\n\n[Other]\nA=1\n"},
      {"last line without an end", "[Version]\r\nSignature=x",
       "[Version]\r\nSignature=x\r\nCatalogFile=p.cat\r\n"},
      {"no version section", "[Strings]\nA=1\n", "[Strings]\nA=1\n[version]\nCatalogFile=p.cat\n"},
      {"comment that names the key", "[Version]\n;CatalogFile=old.cat\n",
       "[Version]\n;CatalogFile=old.cat\nCatalogFile=p.cat\n"},
      {"already named", "[Version]\nCatalogFile=p.cat\n", "[Version]\nCatalogFile=p.cat\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string inf = File("case.inf", c.before);
    EXPECT_TRUE(WriteInfCatalogFile(inf, "/somewhere/p.cat"));
    EXPECT_EQ(test::ReadFileBytes(inf), c.after);
  }

  // A UTF-16 INF stays UTF-16.
  std::string inf =
      File("wide.inf", "\xFF\xFE" + Utf8ToUtf16Le("[Version]\r\nCatalogFile=o.cat\r\n"));
  fs::permissions(inf, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_TRUE(WriteInfCatalogFile(inf, "/x/新.cat"));
  EXPECT_EQ(test::ReadFileBytes(inf),
            "\xFF\xFE" + Utf8ToUtf16Le("[Version]\r\nCatalogFile=新.cat\r\n"));
  EXPECT_EQ(fs::status(inf).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

}  // namespace
}  // namespace corvane
