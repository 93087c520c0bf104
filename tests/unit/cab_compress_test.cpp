#include "formats/cab/cab_compress.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <future>

#include "fixtures/cabinets.h"
#include "fixtures/run_command.h"
#include "fixtures/temp_dir.h"
#include "formats/cab/cab_image.h"

namespace corvane::Cabinet {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

std::uint16_t Le16(const std::string& b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                    static_cast<unsigned char>(b[at + 1]) << 8);
}
std::uint32_t Le32(const std::string& b, std::size_t at) {
  return Le16(b, at) | static_cast<std::uint32_t>(Le16(b, at + 2)) << 16;
}

struct StoredEntry {
  std::uint32_t size;
  std::uint16_t date, time, attributes;
};

// The file entries of a cabinet without reserve, by name.
std::map<std::string, StoredEntry> Entries(const std::string& cab) {
  std::map<std::string, StoredEntry> out;
  std::size_t at = Le32(cab, 16);
  for (std::uint16_t i = 0; i < Le16(cab, 28); ++i) {
    StoredEntry e{Le32(cab, at), Le16(cab, at + 10), Le16(cab, at + 12), Le16(cab, at + 14)};
    const std::size_t nul = cab.find('\0', at + 16);
    out[cab.substr(at + 16, nul - at - 16)] = e;
    at = nul + 1;
  }
  return out;
}

void SetModified(const std::string& path, std::time_t when) {
  std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::from_sys(
                                             std::chrono::system_clock::from_time_t(when)));
}

TEST(CabCompressTest, TheProbeCabinetComesOutByteForByte) {
  TempDir dir;
  const std::string member = dir / "123456.txt";
  WriteFileBytes(member, "123456");
  SetModified(member, 1437734286);  // 2015-07-24 10:38:06 UTC
  {
    CCompress compressor(dir / "tmp");
    ASSERT_TRUE(compressor.StartCabinet(dir / "probe.cab")) << compressor.lastError();
    ASSERT_TRUE(compressor.AddEntry(member, "123456.txt")) << compressor.lastError();
    ASSERT_TRUE(compressor.CloseCabinet()) << compressor.lastError();
  }
  EXPECT_EQ(
      ReadFileBytes(dir / "probe.cab"),
      std::string(reinterpret_cast<const char*>(cab::kProbeCabinet), sizeof cab::kProbeCabinet));
  EXPECT_TRUE(std::filesystem::is_empty(dir / "tmp")) << "the temporary file is removed";
}

TEST(CabCompressTest, EntriesKeepNamesAttributesTimesAndContents) {
  TempDir dir;
  struct Member {
    std::string name;
    std::string content;
    std::uint16_t attributes;
    bool readOnly = false;
  };
  const Member members[] = {
      {"plain.txt", "plain\n", 0x120},
      {"read-only.txt", "cannot be changed\n", 0x121, true},
      {".hidden", "dot files are hidden\n", 0x122},
      {"empty.dat", "", 0x120},
      {"漢字-Grüße.txt", "non-ASCII name\n", 0x1a0},
      {"several-blocks.bin", test::PatternBytes(300000, 5), 0x120},
      {"incompressible.bin", std::string(), 0x120},
  };
  std::filesystem::create_directory(dir / "in");
  std::map<std::string, std::string> expected;
  CCompress compressor;
  ASSERT_TRUE(compressor.StartCabinet(dir / "out/made.cab")) << compressor.lastError();
  std::time_t when = 1700000000;  // 2023-11-14 22:13:20 UTC
  for (const Member& m : members) {
    const std::string path = dir / ("in/" + m.name);
    std::string content = m.content;
    if (m.name == "incompressible.bin") {
      std::string seed = test::PatternBytes(32, 9);
      for (int i = 0; i < 3000; ++i) {
        unsigned char md[32];
        unsigned int n = 0;
        EVP_Digest(seed.data(), seed.size(), md, &n, EVP_sha256(), nullptr);
        seed.assign(reinterpret_cast<char*>(md), n);
        content += seed;
      }
    }
    WriteFileBytes(path, content);
    SetModified(path, when += 2);
    if (m.readOnly) std::filesystem::permissions(path, std::filesystem::perms::owner_read);
    expected[m.name] = content;
    ASSERT_TRUE(compressor.AddEntry(path, m.name)) << m.name << ": " << compressor.lastError();
  }
  ASSERT_TRUE(compressor.FinishCabinet()) << compressor.lastError();

  const std::string cab = ReadFileBytes(dir / "out/made.cab");
  EXPECT_EQ(Le32(cab, 8), cab.size());
  EXPECT_EQ(Le16(cab, 26), 1) << "one folder";
  EXPECT_EQ(Le16(cab, 30), 0) << "no reserve, no set";
  EXPECT_EQ(Le16(cab, 36 + 6), 1) << "MSZIP";
  const std::map<std::string, StoredEntry> entries = Entries(cab);
  when = 1700000000;
  for (const Member& m : members) {
    SCOPED_TRACE(m.name);
    ASSERT_EQ(entries.count(m.name), 1u);
    const StoredEntry& e = entries.at(m.name);
    EXPECT_EQ(e.attributes, m.attributes);
    EXPECT_EQ(e.size, expected[m.name].size());
    std::uint16_t date = 0, time = 0;
    ToDosDateTime(when += 2, date, time);
    EXPECT_EQ(e.date, date);
    EXPECT_EQ(e.time, time);
  }
  EXPECT_EQ(entries.at("plain.txt").date, (2023 - 1980) << 9 | 11 << 5 | 14);
  EXPECT_EQ(entries.at("plain.txt").time, 22 << 11 | 13 << 5 | 22 / 2);

  EXPECT_EQ(test::ExtractCabinet(dir / "out/made.cab", dir / "cabextract"), expected);
  std::filesystem::create_directory(dir / "gcab");
  test::CommandResult r =
      test::RunCommand("/usr/bin/gcab", {"-x", "-C", dir / "gcab", dir / "out/made.cab"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  for (const auto& [name, content] : expected)
    EXPECT_EQ(ReadFileBytes(dir / ("gcab/" + name)), content) << name;
}

TEST(CabCompressTest, SizeLimitsAndRefusedFiles) {
  TempDir dir;
  const std::string big = dir / "big.bin";
  WriteFileBytes(big, "");
  std::filesystem::resize_file(big, kMaxEntrySize + 1);  // sparse
  WriteFileBytes(dir / "small.txt", "small");
  CCompress compressor;
  ASSERT_TRUE(compressor.StartCabinet(dir / "limits.cab"));
  EXPECT_FALSE(compressor.AddEntry(big, "big.bin"));
  EXPECT_FALSE(compressor.AddEntry(dir / "missing.txt", "missing.txt"));
  EXPECT_FALSE(compressor.AddEntry(dir.path(), "folder"));
  EXPECT_FALSE(compressor.AddEntry(dir / "small.txt", std::string(256, 'n')));
  EXPECT_FALSE(compressor.AddEntry(dir / "small.txt",
                                   "bad\xff"
                                   "utf8"));
  ASSERT_TRUE(compressor.AddEntry(dir / "small.txt", "small.txt"));
  ASSERT_TRUE(compressor.CloseCabinet());
  // What was refused left no trace: the cabinet holds the one entry that was added.
  EXPECT_EQ(test::ExtractCabinet(dir / "limits.cab", dir / "x"),
            (std::map<std::string, std::string>{{"small.txt", "small"}}));
}

TEST(CabCompressTest, CabinetPathsAndThreadsThatAreRefused) {
  TempDir dir;
  CCompress compressor;
  EXPECT_FALSE(compressor.StartCabinet(dir / "ab"));
  EXPECT_FALSE(compressor.StartCabinet("x.cab"));
  EXPECT_FALSE(compressor.StartCabinet(dir / "Grüße.cab"));
  EXPECT_FALSE(compressor.AddEntry(dir / "any", "any")) << "no cabinet is open";
  EXPECT_FALSE(std::async(std::launch::async, [&] {
                 return compressor.StartCabinet(dir / "other-thread.cab");
               }).get());
  ASSERT_TRUE(compressor.StartCabinet(dir / "one.cab"));
  EXPECT_FALSE(compressor.StartCabinet(dir / "two.cab")) << "one cabinet at a time";
}

TEST(CabCompressTest, TemporaryFilesAreNumberedPerInstanceSkippingTakenNames) {
  TempDir dir;
  CCompress first(dir.path()), second(dir.path());
  EXPECT_EQ(second.instanceNumber(), first.instanceNumber() + 1);
  char taken[32];
  std::snprintf(taken, sizeof taken, "CabTmp_%02X_00",
                static_cast<unsigned>(first.instanceNumber()));
  WriteFileBytes(dir / taken, "someone else's");
  ASSERT_TRUE(first.StartCabinet(dir / "first.cab"));
  char next[32];
  std::snprintf(next, sizeof next, "CabTmp_%02X_01", static_cast<unsigned>(first.instanceNumber()));
  EXPECT_TRUE(std::filesystem::exists(dir / next));
  ASSERT_TRUE(first.CloseCabinet());
  EXPECT_FALSE(std::filesystem::exists(dir / next));
  EXPECT_EQ(ReadFileBytes(dir / taken), "someone else's");
}

}  // namespace
}  // namespace corvane::Cabinet
