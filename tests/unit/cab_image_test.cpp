#include "formats/cab/cab_image.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <vector>

#include "crypto/signed_message.h"
#include "fixtures/run_command.h"
#include "fixtures/temp_dir.h"
#include "fixtures/test_pki.h"

namespace corvane::cab {
namespace {

using test::ReadFileBytes;
using test::RunCommand;
using test::TempDir;
using test::WriteFileBytes;

constexpr char kGcab[] = "/usr/bin/gcab";
constexpr char kCabextract[] = "/usr/bin/cabextract";
constexpr char kOsslsigncode[] = "/usr/bin/osslsigncode";

std::uint32_t Le32At(const std::string& bytes, std::size_t offset) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + offset);
  return static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16) |
         static_cast<std::uint32_t>(p[3]) << 24;
}

void SetLe16(std::string& bytes, std::size_t offset, std::uint16_t v) {
  bytes[offset] = static_cast<char>(v);
  bytes[offset + 1] = static_cast<char>(v >> 8);
}

void SetLe32(std::string& bytes, std::size_t offset, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>(v >> (8 * i));
}

void AppendLe16(std::string& s, std::uint16_t v) {
  s.append(2, '\0');
  SetLe16(s, s.size() - 2, v);
}

void AppendLe32(std::string& s, std::uint32_t v) {
  s.append(4, '\0');
  SetLe32(s, s.size() - 4, v);
}

const std::string kEmptySequence("\x30\x00", 2);
const std::string kSmallSequence("\x30\x03\x02\x01\x05", 5);

// True when a rewrite left its temporary file in `dir`.
bool TemporaryFilesLeft(const TempDir& dir) {
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    if (entry.path().filename().string().find(".corvane-") != std::string::npos) return true;
  return false;
}

// Names parameterised tests after their table row.
struct NameOf {
  template <typename T>
  std::string operator()(const ::testing::TestParamInfo<T>& row) const {
    return row.param.name;
  }
};

std::string Hex(const std::string& raw) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : raw) out += {digits[c >> 4], digits[c & 15]};
  return out;
}

std::string Sha256(const std::string& bytes) {
  unsigned char md[32];
  unsigned int n = 0;
  EVP_Digest(bytes.data(), bytes.size(), md, &n, EVP_sha256(), nullptr);
  return std::string(reinterpret_cast<char*>(md), n);
}

std::string Probe() {
  return std::string(reinterpret_cast<const char*>(kProbeCabinet), sizeof kProbeCabinet);
}

// What `cabextract -t` says of each member (name and MD5), without the line naming the file.
std::string TestExtract(const std::string& cab) {
  test::CommandResult r = RunCommand(kCabextract, {"-t", cab});
  EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("All done, no errors."), std::string::npos) << r.out << r.err;
  return r.out.substr(r.out.find('\n') + 1);
}

void Gcab(const std::vector<std::string>& options, const std::string& cab,
          const std::vector<std::string>& members) {
  std::vector<std::string> args = options;
  args.push_back(cab);
  args.insert(args.end(), members.begin(), members.end());
  test::CommandResult r = RunCommand(kGcab, args);
  ASSERT_EQ(r.exitStatus, 0) << r.err;
}

// Uncompressed cabinets put together here, for layouts that gcab does not write: several
// folders, set names, per-folder and per-data reserves.
struct Member {
  std::string name;
  std::string data;
};

struct CabRecipe {
  std::vector<std::vector<Member>> folders;
  bool prevCabinet = false;
  bool nextCabinet = false;
  bool reserveFields = false;  // cbCFHeader, cbCFFolder, cbCFData present
  std::string headerReserve;
  std::uint8_t folderReserve = 0;
  std::uint8_t dataReserve = 0;
};

std::string BuildCabinet(const CabRecipe& recipe) {
  using namespace std::string_literals;
  std::string names;
  if (recipe.prevCabinet) names += "prev.cab\0Disk 1\0"s;
  if (recipe.nextCabinet) names += "next.cab\0Disk 3\0"s;
  const std::size_t headerSize =
      36 + (recipe.reserveFields ? 4 + recipe.headerReserve.size() : 0) + names.size();
  const std::size_t filesOffset = headerSize + recipe.folders.size() * (8 + recipe.folderReserve);

  std::string files;
  std::uint16_t fileCount = 0;
  for (std::size_t i = 0; i < recipe.folders.size(); ++i) {
    std::uint32_t folderOffset = 0;
    for (const Member& m : recipe.folders[i]) {
      AppendLe32(files, static_cast<std::uint32_t>(m.data.size()));
      AppendLe32(files, folderOffset);
      AppendLe16(files, static_cast<std::uint16_t>(i));
      AppendLe16(files, 0x5a21);  // 2025-01-01
      AppendLe16(files, 0x6000);  // 12:00:00
      AppendLe16(files, 0x20);
      files += m.name + '\0';
      folderOffset += static_cast<std::uint32_t>(m.data.size());
      ++fileCount;
    }
  }

  std::string folders, data;
  for (const auto& members : recipe.folders) {
    std::string content;
    for (const Member& m : members) content += m.data;
    AppendLe32(folders, static_cast<std::uint32_t>(filesOffset + files.size() + data.size()));
    std::uint16_t blocks = 0;
    for (std::size_t at = 0; at < content.size(); at += 32768, ++blocks) {
      const std::string block = content.substr(at, 32768);
      AppendLe32(data, 0);  // no checksum
      AppendLe16(data, static_cast<std::uint16_t>(block.size()));
      AppendLe16(data, static_cast<std::uint16_t>(block.size()));
      data += std::string(recipe.dataReserve, '\xdd') + block;
    }
    AppendLe16(folders, blocks);
    AppendLe16(folders, 0);  // stored
    folders += std::string(recipe.folderReserve, '\xf0');
  }

  std::string cab = "MSCF";
  AppendLe32(cab, 0);
  AppendLe32(cab, static_cast<std::uint32_t>(filesOffset + files.size() + data.size()));
  AppendLe32(cab, 0);
  AppendLe32(cab, static_cast<std::uint32_t>(filesOffset));
  AppendLe32(cab, 0);
  cab += "\x03\x01";
  AppendLe16(cab, static_cast<std::uint16_t>(recipe.folders.size()));
  AppendLe16(cab, fileCount);
  AppendLe16(cab, static_cast<std::uint16_t>((recipe.prevCabinet ? kFlagPrevCabinet : 0) |
                                             (recipe.nextCabinet ? kFlagNextCabinet : 0) |
                                             (recipe.reserveFields ? kFlagReservePresent : 0)));
  AppendLe16(cab, 0x0d0c);                      // setID
  AppendLe16(cab, recipe.prevCabinet ? 2 : 0);  // iCabinet
  if (recipe.reserveFields) {
    AppendLe16(cab, static_cast<std::uint16_t>(recipe.headerReserve.size()));
    cab += static_cast<char>(recipe.folderReserve);
    cab += static_cast<char>(recipe.dataReserve);
    cab += recipe.headerReserve;
  }
  return cab + names + folders + files + data;
}

std::string Pattern(std::size_t size, unsigned seed) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 2654435761u + seed) >> 13);
  return s;
}

CabRecipe ThreeFolders() {
  return {{{{"one.txt", "first folder\n"}, {"two.bin", Pattern(70000, 1)}},
           {{"sub\\three.txt", "second folder\n"}},
           {{"four.bin", Pattern(40000, 2)}}}};
}

// A throwaway self-signed signer for osslsigncode, made once.
struct Signer {
  TempDir dir;
  std::string cert = dir / "cert.pem";
  std::string key = dir / "key.pem";
  Signer() {
    test::CommandResult r =
        RunCommand("/usr/bin/openssl",
                   {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj",
                    "/CN=Cabinet Test Signer", "-days", "2", "-keyout", key, "-out", cert});
    if (r.exitStatus != 0) throw std::runtime_error("openssl req: " + r.err);
  }
};

const Signer& TestSigner() {
  static const Signer signer;
  return signer;
}

void OsslSign(const std::string& in, const std::string& out, const std::string& hash = "sha256") {
  test::CommandResult r =
      RunCommand(kOsslsigncode, {"sign", "-certs", TestSigner().cert, "-key", TestSigner().key,
                                 "-h", hash, "-in", in, "-out", out});
  ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
}

// What `osslsigncode verify` says of `cab`: the digest the signature carries and the one it
// calculates from the file, and whether it accepted the signature.
struct OsslVerdict {
  bool accepted = false;
  std::string carried;
  std::string calculated;
};

OsslVerdict OsslVerify(const std::string& cab) {
  test::CommandResult r =
      RunCommand(kOsslsigncode, {"verify", "-CAfile", TestSigner().cert, "-in", cab});
  auto field = [&](const std::string& label) {
    std::size_t at = r.out.find(label);
    if (at == std::string::npos) return std::string();
    at = r.out.find(':', at) + 1;
    std::string value = r.out.substr(at, r.out.find('\n', at) - at);
    value.erase(0, value.find_first_not_of(' '));
    return value.substr(0, value.find(' '));
  };
  return {r.exitStatus == 0 && r.out.find("Signature verification: ok") != std::string::npos,
          field("Current message digest"), field("Calculated message digest")};
}

// The digest carried by the signature of `cab`; the check fails unless osslsigncode accepts
// the signature, and so finds that digest matching the file.
std::string OsslVerifiedDigest(const std::string& cab) {
  const OsslVerdict verdict = OsslVerify(cab);
  EXPECT_TRUE(verdict.accepted) << cab;
  EXPECT_EQ(verdict.carried, verdict.calculated);
  return verdict.carried;
}

// --- Signing round trips against osslsigncode, one per kind of cabinet.

struct Source {
  const char* name;
  // False where osslsigncode's signing leaves the set names out of the digest that its
  // verification (and ours) covers: the first cabinet of a set.
  bool osslsigncodeSignsIt;
  std::function<void(const TempDir&, const std::string& cab)> make;
};

const Source kSources[] = {
    {"probe", true, [](const TempDir&, const std::string& cab) { WriteFileBytes(cab, Probe()); }},
    {"gcab_mszip", true,
     [](const TempDir& dir, const std::string& cab) {
       WriteFileBytes(dir / "readme.txt", Pattern(5000, 3) + std::string(20000, 'a'));
       Gcab({"-c", "-z", "-n"}, cab, {dir / "readme.txt"});
     }},
    {"gcab_stored", true,
     [](const TempDir& dir, const std::string& cab) {
       WriteFileBytes(dir / "data.bin", Pattern(150000, 4));
       Gcab({"-c", "-n"}, cab, {dir / "data.bin"});
     }},
    {"gcab_non_ascii_name", true,
     [](const TempDir& dir, const std::string& cab) {
       WriteFileBytes(dir / "Grüße-データ.txt", "non-ASCII member name\n");
       Gcab({"-c", "-z", "-n"}, cab, {dir / "Grüße-データ.txt"});
     }},
    {"gcab_several_files", true,
     [](const TempDir& dir, const std::string& cab) {
       std::vector<std::string> members;
       for (int i = 0; i < 4; ++i) {
         members.push_back(dir / ("member" + std::to_string(i) + ".bin"));
         WriteFileBytes(members.back(), Pattern(30000u * (i + 1), i));
       }
       Gcab({"-c", "-z", "-n"}, cab, members);
     }},
    {"built_three_folders", true,
     [](const TempDir&, const std::string& cab) {
       WriteFileBytes(cab, BuildCabinet(ThreeFolders()));
     }},
    {"built_next_in_set", false,
     [](const TempDir&, const std::string& cab) {
       CabRecipe recipe = ThreeFolders();
       recipe.nextCabinet = true;
       WriteFileBytes(cab, BuildCabinet(recipe));
     }},
};

class CabSigningTest : public ::testing::TestWithParam<Source> {};

TEST_P(CabSigningTest, MatchesOsslsigncodeLayoutDigestAndPlacement) {
  TempDir dir;
  const std::string plain = dir / "plain.cab", theirs = dir / "theirs.cab", ours = dir / "ours.cab";
  ASSERT_NO_FATAL_FAILURE(GetParam().make(dir, plain));
  const std::string members = TestExtract(plain);
  const CabLayout before = ReadLayout(plain);
  EXPECT_FALSE(before.signatureReserve);
  EXPECT_EQ(before.cabinetSize, before.fileSize);

  ASSERT_NO_FATAL_FAILURE(OsslSign(plain, theirs));
  const CabLayout signedLayout = ReadLayout(theirs);
  ASSERT_TRUE(signedLayout.HasSignature());
  EXPECT_EQ(signedLayout.cabinetSize, before.cabinetSize + 24);
  EXPECT_EQ(signedLayout.filesOffset, before.filesOffset + 24);
  EXPECT_EQ(signedLayout.signatureOffset, signedLayout.cabinetSize);
  EXPECT_EQ(signedLayout.signatureOffset + std::uint64_t{signedLayout.signatureAreaSize},
            signedLayout.fileSize);
  const std::string signature = ReadSignature(theirs);
  ASSERT_FALSE(signature.empty());
  EXPECT_EQ(signedLayout.signatureAreaSize, (signature.size() + 7) / 8 * 8);

  std::filesystem::copy_file(plain, ours);
  PrepareForSigning(ours);
  const CabLayout prepared = ReadLayout(ours);
  EXPECT_TRUE(prepared.signatureReserve);
  EXPECT_FALSE(prepared.HasSignature());
  EXPECT_EQ(prepared.cabinetSize, signedLayout.cabinetSize);
  EXPECT_EQ(prepared.fileSize, prepared.cabinetSize);
  EXPECT_EQ(prepared.signatureOffset, prepared.cabinetSize);
  EXPECT_EQ(ReadSignature(ours), "");
  const std::string digest = AuthenticodeDigest(ours, EVP_sha256());
  const bool valid = GetParam().osslsigncodeSignsIt;
  EXPECT_EQ(Hex(digest), OsslVerify(theirs).calculated);
  if (valid) {
    EXPECT_EQ(Hex(digest), OsslVerifiedDigest(theirs));
  }
  EXPECT_EQ(AuthenticodeDigest(theirs, EVP_sha256()), digest);
  EXPECT_EQ(TestExtract(ours), members);

  // osslsigncode's signature placed by us gives osslsigncode's file, byte for byte.
  WriteSignature(ours, signature);
  EXPECT_EQ(ReadFileBytes(ours), ReadFileBytes(theirs));
  EXPECT_EQ(ReadSignature(ours), signature);
  if (valid) {
    EXPECT_EQ(Hex(digest), OsslVerifiedDigest(ours));
  }
  EXPECT_EQ(TestExtract(ours), members);

  // Preparing a signed cabinet drops the signature area and nothing else.
  const std::string preparedBytes = ReadFileBytes(ours).substr(0, prepared.cabinetSize);
  PrepareForSigning(ours);
  std::string expected = preparedBytes;
  SetLe32(expected, kSignatureSizeField, 0);
  EXPECT_EQ(ReadFileBytes(ours), expected);
  EXPECT_EQ(AuthenticodeDigest(ours, EVP_sha256()), digest);
}

INSTANTIATE_TEST_SUITE_P(Cabinets, CabSigningTest, ::testing::ValuesIn(kSources), NameOf());

// --- Per-folder and per-data reserves, which osslsigncode does not take: the signature
// reserve goes in after the reserve-size fields and the cabinet stays intact.

struct LayoutCase {
  const char* name;
  CabRecipe recipe;
};

std::vector<LayoutCase> LayoutCases() {
  std::vector<LayoutCase> cases;
  auto add = [&](const char* name, auto edit) {
    CabRecipe recipe = ThreeFolders();
    edit(recipe);
    cases.push_back({name, recipe});
  };
  add("folder_and_data_reserves", [](CabRecipe& s) {
    s.reserveFields = true;
    s.folderReserve = 5;
    s.dataReserve = 3;
  });
  add("reserves_and_next_in_set", [](CabRecipe& s) {
    s.reserveFields = s.nextCabinet = true;
    s.dataReserve = 8;
  });
  return cases;
}

class CabPrepareLayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(CabPrepareLayoutTest, ReserveInsertedOffsetsMovedMembersIntact) {
  TempDir dir;
  const std::string cab = dir / "set.cab";
  WriteFileBytes(cab, BuildCabinet(GetParam().recipe));
  const std::string members = TestExtract(cab);
  const CabLayout before = ReadLayout(cab);

  PrepareForSigning(cab);
  const CabLayout after = ReadLayout(cab);
  const std::uint32_t growth = 20;  // the reserve itself: the size fields are there already
  EXPECT_TRUE(after.signatureReserve);
  EXPECT_EQ(after.headerReserveSize, kSignatureReserveSize);
  EXPECT_EQ(after.cabinetSize, before.cabinetSize + growth);
  EXPECT_EQ(after.fileSize, after.cabinetSize);
  EXPECT_EQ(after.filesOffset, before.filesOffset + growth);
  EXPECT_EQ(after.folderTableOffset, before.folderTableOffset + growth);
  EXPECT_EQ(after.flags, before.flags | kFlagReservePresent);
  EXPECT_EQ(after.folderReserveSize, before.folderReserveSize);
  EXPECT_EQ(after.dataReserveSize, before.dataReserveSize);
  EXPECT_EQ(after.setId, before.setId);
  EXPECT_EQ(after.cabinetIndex, before.cabinetIndex);
  EXPECT_EQ(TestExtract(cab), members);

  const std::string prepared = ReadFileBytes(cab);
  EXPECT_EQ(prepared.substr(36, 24),
            std::string("\x14\x00", 2) + static_cast<char>(before.folderReserveSize) +
                static_cast<char>(before.dataReserveSize) + std::string("\x00\x00\x10\x00", 4) +
                prepared.substr(8, 4) + std::string(12, '\0'));
  PrepareForSigning(cab);  // a second time changes nothing
  EXPECT_EQ(ReadFileBytes(cab), prepared);

  const std::string der = "\x30\x0b" + std::string(11, 'S');
  WriteSignature(cab, der);
  EXPECT_EQ(ReadSignature(cab), der);
  EXPECT_EQ(ReadLayout(cab).signatureAreaSize, 16u);
  EXPECT_EQ(ReadFileBytes(cab), prepared.substr(0, 48) + "\x10" + std::string(3, '\0') +
                                    prepared.substr(52) + der + std::string(3, '\0'));
  EXPECT_EQ(TestExtract(cab), members);
}

INSTANTIATE_TEST_SUITE_P(Cabinets, CabPrepareLayoutTest, ::testing::ValuesIn(LayoutCases()),
                         NameOf());

// --- Which bytes the digest covers: 0..3, 8..33 and 56..cbCabinet.

TEST(CabDigestTest, CoversExactlyTheSignedRanges) {
  TempDir dir;
  const std::string cab = dir / "probe.cab";
  WriteFileBytes(cab, Probe());
  PrepareForSigning(cab);
  const std::string prepared = ReadFileBytes(cab);
  const std::string digest = AuthenticodeDigest(cab, EVP_sha256());
  EXPECT_EQ(digest, Sha256(prepared.substr(0, 4) + prepared.substr(8, 26) + prepared.substr(56)));
  EXPECT_EQ(AuthenticodeDigest(cab, EVP_sha1()).size(), 20u);

  // Flipping a bit of a covered byte changes the digest, of any other byte does not. The
  // offsets are chosen so that the cabinet still reads: 84 is in the member's name.
  struct Flip {
    std::size_t offset;
    bool covered;
  };
  const std::size_t last = prepared.size() - 1;
  for (const Flip f : {Flip{4, false},
                       {7, false},
                       {44, false},
                       {52, false},
                       {55, false},
                       {12, true},
                       {20, true},
                       {24, true},
                       {32, true},
                       {33, true},
                       {56, true},
                       {59, true},
                       {84, true},
                       {last, true}}) {
    std::string changed = prepared;
    changed[f.offset] = static_cast<char>(changed[f.offset] ^ 0x40);
    WriteFileBytes(cab, changed);
    EXPECT_EQ(AuthenticodeDigest(cab, EVP_sha256()) != digest, f.covered) << "byte " << f.offset;
  }
  // The signature area is not covered either.
  WriteFileBytes(cab, prepared);
  WriteSignature(cab, kSmallSequence);
  EXPECT_EQ(AuthenticodeDigest(cab, EVP_sha256()), digest);
}

// --- The embedder's rewrite: same prefix, new signature, the old padding carried over.

struct ReplaceCase {
  const char* name;
  std::uint32_t extraPadding;  // added to the signature area before the replacement
  const char* digest;          // of the final signature
  std::function<std::string(const std::string& oldDer, const TempDir&)> finalDer;
};

const ReplaceCase kReplaceCases[] = {
    {"same_signature", 0, "sha256", [](const std::string& der, const TempDir&) { return der; }},
    {"with_extra_certificate", 0, "sha256",
     [](const std::string& der, const TempDir&) {
       SignedMessage message = SignedMessage::Decode(der);
       message.AddCertificate(test::ToDer(test::Authority("root-a").cert.get()));
       return message.Encode();
     }},
    {"shorter_sha1_signature", 0, "sha1",
     [](const std::string&, const TempDir& dir) {
       WriteFileBytes(dir / "probe1.cab", Probe());
       OsslSign(dir / "probe1.cab", dir / "sha1.cab", "sha1");
       return ReadSignature(dir / "sha1.cab");
     }},
    {"padding_counted_in_16_bits", 0x10000, "sha256",
     [](const std::string& der, const TempDir&) {
       SignedMessage message = SignedMessage::Decode(der);
       message.AddCertificate(test::ToDer(test::Authority("root-b").cert.get()));
       return message.Encode();
     }},
};

class CabReplaceTest : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(CabReplaceTest, KeepsPrefixAndPadding) {
  TempDir dir;
  const std::string cab = dir / "signed.cab";
  WriteFileBytes(dir / "probe.cab", Probe());
  ASSERT_NO_FATAL_FAILURE(OsslSign(dir / "probe.cab", cab));
  const std::string oldDer = ReadSignature(cab);
  if (GetParam().extraPadding) {
    std::string grown = ReadFileBytes(cab) + std::string(GetParam().extraPadding, '\0');
    SetLe32(grown, kSignatureSizeField,
            Le32At(grown, kSignatureSizeField) + GetParam().extraPadding);
    WriteFileBytes(cab, grown);
  }
  const std::string before = ReadFileBytes(cab);
  const CabLayout layout = ReadLayout(cab);
  const std::uint32_t pad =
      (layout.signatureAreaSize - static_cast<std::uint32_t>(oldDer.size())) & 0xFFFF;
  EXPECT_EQ(pad, (8 - oldDer.size() % 8) % 8);
  const std::string finalDer = GetParam().finalDer(oldDer, dir);
  ASSERT_FALSE(finalDer.empty());

  ReplaceSignature(cab, static_cast<std::uint32_t>(oldDer.size()), finalDer);
  const std::string after = ReadFileBytes(cab);
  const std::size_t start = layout.signatureOffset;
  ASSERT_EQ(after.size(), start + finalDer.size() + pad);
  EXPECT_EQ(after.substr(0, 48), before.substr(0, 48));
  EXPECT_EQ(Le32At(after, kSignatureSizeField), finalDer.size() + pad);
  EXPECT_EQ(after.substr(52, start - 52), before.substr(52, start - 52));
  EXPECT_EQ(after.substr(start), finalDer + std::string(pad, '\0'));
  EXPECT_EQ(ReadSignature(cab), finalDer);
  EXPECT_EQ(OsslVerifiedDigest(cab),
            Hex(AuthenticodeDigest(cab, EVP_get_digestbyname(GetParam().digest))));
  TestExtract(cab);
  EXPECT_FALSE(TemporaryFilesLeft(dir));
}

INSTANTIATE_TEST_SUITE_P(Cabinets, CabReplaceTest, ::testing::ValuesIn(kReplaceCases), NameOf());

TEST(CabReplaceArgumentsTest, RefusesAnOldLengthLargerThanTheArea) {
  TempDir dir;
  const std::string cab = dir / "probe.cab";
  WriteFileBytes(cab, Probe());
  PrepareForSigning(cab);
  const std::string der = kSmallSequence;
  EXPECT_THROW(ReplaceSignature(cab, 5, der), CabFormatError);  // nothing to replace yet
  WriteSignature(cab, der);
  const std::string before = ReadFileBytes(cab);
  EXPECT_THROW(ReplaceSignature(cab, 9, der), std::invalid_argument);
  EXPECT_THROW(ReplaceSignature(cab, 5, "\x30\x05\x02"), std::invalid_argument);
  EXPECT_EQ(ReadFileBytes(cab), before);
}

// --- Arguments and cabinets that are refused.

TEST(CabWriteSignatureTest, RefusesNonDerAndUnpreparedCabinets) {
  TempDir dir;
  const std::string cab = dir / "probe.cab";
  WriteFileBytes(cab, Probe());
  EXPECT_THROW(WriteSignature(cab, kSmallSequence), CabFormatError);
  EXPECT_THROW(AuthenticodeDigest(cab, EVP_sha256()), CabFormatError);
  PrepareForSigning(cab);
  for (const std::string& bad :
       {std::string(), std::string("\x30\x04\x02\x01\x05", 5),
        std::string("\x30\x03\x02\x01\x05\x00", 6), std::string("\x04\x01\x00", 3),
        std::string("\x30\x80\x00\x00", 4)})
    EXPECT_THROW(WriteSignature(cab, bad), std::invalid_argument) << Hex(bad);
}

enum class FailsAt { Layout, Signature, Prepare };

struct MalformedCase {
  const char* name;
  FailsAt failsAt;
  std::function<void(std::string&)> edit;  // applied to a signed probe cabinet
};

const MalformedCase kMalformed[] = {
    {"empty", FailsAt::Layout, [](std::string& c) { c.clear(); }},
    {"truncated_header", FailsAt::Layout, [](std::string& c) { c.resize(30); }},
    {"not_mscf", FailsAt::Layout, [](std::string& c) { c[0] = 'X'; }},
    {"version_2", FailsAt::Layout, [](std::string& c) { c[25] = 2; }},
    {"cbcabinet_past_eof", FailsAt::Layout, [](std::string& c) { c = Probe().substr(0, 80); }},
    {"coffFiles_past_eof", FailsAt::Layout, [](std::string& c) { SetLe32(c, 16, 0xFFFFFF00); }},
    {"coffFiles_inside_folder_table", FailsAt::Layout, [](std::string& c) { SetLe32(c, 16, 62); }},
    {"folder_count_huge", FailsAt::Layout, [](std::string& c) { SetLe16(c, 26, 0xFFFF); }},
    {"file_count_huge", FailsAt::Layout, [](std::string& c) { SetLe16(c, 28, 0xFFFF); }},
    {"folder_data_past_eof", FailsAt::Layout, [](std::string& c) { SetLe32(c, 60, 0xFFFFFFF0); }},
    {"folder_blocks_past_eof", FailsAt::Layout, [](std::string& c) { SetLe16(c, 64, 0x4000); }},
    {"header_reserve_past_eof", FailsAt::Layout,
     [](std::string& c) {
       c = Probe();
       SetLe16(c, 30, kFlagReservePresent);
       SetLe16(c, 36, 50000);
     }},
    {"header_reserve_too_large", FailsAt::Layout, [](std::string& c) { SetLe16(c, 36, 0xFFFF); }},
    {"folder_reserve_past_eof", FailsAt::Layout, [](std::string& c) { c[38] = '\xff'; }},
    {"set_name_past_eof", FailsAt::Layout,
     [](std::string& c) {
       c = Probe();
       SetLe16(c, 30, kFlagPrevCabinet);
       c = c.substr(0, 36) + "prev.cab";
     }},
    {"set_name_too_long", FailsAt::Layout,
     [](std::string& c) {
       c = Probe();
       SetLe16(c, 30, kFlagNextCabinet);
       c = c.substr(0, 36) + std::string(300, 'n') + c.substr(36);
     }},
    {"signature_offset_past_eof", FailsAt::Layout,
     [](std::string& c) { SetLe32(c, 44, 0xFFFFFF00); }},
    {"signature_offset_not_cabinet_end", FailsAt::Layout,
     [](std::string& c) {
       SetLe32(c, 44, Le32At(c, 44) + 8);
       SetLe32(c, 48, Le32At(c, 48) - 8);
     }},
    {"signature_size_past_eof", FailsAt::Layout,
     [](std::string& c) { SetLe32(c, 48, Le32At(c, 48) + 1); }},
    {"signature_size_huge", FailsAt::Layout, [](std::string& c) { SetLe32(c, 48, 0xFFFFFFF0); }},
    {"signature_not_der", FailsAt::Signature, [](std::string& c) { c[Le32At(c, 44)] = '\x04'; }},
    {"signature_der_longer_than_area", FailsAt::Signature,
     [](std::string& c) { c[Le32At(c, 44) + 2] = '\x7f'; }},
    {"signature_area_too_short_for_der_header", FailsAt::Signature,
     [](std::string& c) {
       c.resize(Le32At(c, 44) + 1);
       SetLe32(c, 48, 1);
     }},
    {"foreign_header_reserve", FailsAt::Prepare,
     [](std::string& c) { c[40] = 'F'; }},  // 20 bytes, but not laid out for a signature
    {"reserve_of_other_size", FailsAt::Prepare,
     [](std::string& c) {
       // The probe with an 8-byte header reserve: 12 bytes more in front of the folder.
       c = Probe();
       c = c.substr(0, 36) + std::string("\x08\x00\x00\x00", 4) + std::string(8, 'r') +
           c.substr(36);
       SetLe16(c, 30, kFlagReservePresent);
       for (std::size_t field : {8, 16, 48}) SetLe32(c, field, Le32At(c, field) + 12);
     }},
    {"continues_a_set", FailsAt::Prepare,
     [](std::string& c) {
       CabRecipe recipe = ThreeFolders();
       recipe.prevCabinet = true;
       c = BuildCabinet(recipe);
     }},
    {"numbered_in_a_set", FailsAt::Prepare, [](std::string& c) { c[34] = 1; }},
};

class CabMalformedTest : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(CabMalformedTest, RaisesCabFormatError) {
  TempDir dir;
  const std::string cab = dir / "bad.cab";
  WriteFileBytes(dir / "probe.cab", Probe());
  ASSERT_NO_FATAL_FAILURE(OsslSign(dir / "probe.cab", cab));
  std::string bytes = ReadFileBytes(cab);
  GetParam().edit(bytes);
  WriteFileBytes(cab, bytes);

  switch (GetParam().failsAt) {
    case FailsAt::Layout:
      EXPECT_THROW(ReadLayout(cab), CabFormatError);
      EXPECT_THROW(ReadSignature(cab), CabFormatError);
      EXPECT_THROW(AuthenticodeDigest(cab, EVP_sha256()), CabFormatError);
      EXPECT_THROW(WriteSignature(cab, kEmptySequence), CabFormatError);
      EXPECT_THROW(ReplaceSignature(cab, 0, kEmptySequence), CabFormatError);
      EXPECT_THROW(PrepareForSigning(cab), CabFormatError);
      break;
    case FailsAt::Signature:
      EXPECT_NO_THROW(ReadLayout(cab));
      EXPECT_THROW(ReadSignature(cab), CabFormatError);
      break;
    case FailsAt::Prepare:
      EXPECT_NO_THROW(ReadLayout(cab));
      EXPECT_NO_THROW(ReadSignature(cab));
      EXPECT_THROW(AuthenticodeDigest(cab, EVP_sha256()), CabFormatError);
      EXPECT_THROW(PrepareForSigning(cab), CabFormatError);
      break;
  }
  EXPECT_EQ(ReadFileBytes(cab), bytes);
  EXPECT_FALSE(TemporaryFilesLeft(dir));
}

INSTANTIATE_TEST_SUITE_P(Cabinets, CabMalformedTest, ::testing::ValuesIn(kMalformed), NameOf());

// --- The one-pass copy for signing and the digest taken from the source.

TEST(CabCopyForSigningTest, GivesThePreparedCabinetAndItsDigestFromTheSource) {
  TempDir dir;
  WriteFileBytes(dir / "probe.cab", Probe());
  ASSERT_NO_FATAL_FAILURE(OsslSign(dir / "probe.cab", dir / "signed.cab"));
  CabRecipe reserves = ThreeFolders();
  reserves.reserveFields = true;
  reserves.folderReserve = 4;
  reserves.dataReserve = 2;
  reserves.nextCabinet = true;
  WriteFileBytes(dir / "reserves.cab", BuildCabinet(reserves));
  for (const char* name : {"probe.cab", "signed.cab", "reserves.cab"}) {
    SCOPED_TRACE(name);
    const std::string source = dir / name, copy = dir / "copy.cab", prepared = dir / "prep.cab";
    const std::string before = ReadFileBytes(source);
    WriteFileBytes(copy, "");
    CopyForSigning(source, copy);
    std::filesystem::copy_file(source, prepared, std::filesystem::copy_options::overwrite_existing);
    PrepareForSigning(prepared);
    const bool hadReserve = ReadLayout(source).signatureReserve;
    // A signed cabinet is copied as it is, its signature still readable; others come prepared.
    EXPECT_EQ(ReadFileBytes(copy), hadReserve ? before : ReadFileBytes(prepared));
    const std::string digest = PreparedDigest(source, EVP_sha256());
    EXPECT_EQ(digest, AuthenticodeDigest(prepared, EVP_sha256()));
    EXPECT_EQ(ReadFileBytes(source), before);
  }
}

TEST(CabReplaceInPlaceTest, WritesTheSameBytesAsTheRewrite) {
  TempDir dir;
  WriteFileBytes(dir / "probe.cab", Probe());
  ASSERT_NO_FATAL_FAILURE(OsslSign(dir / "probe.cab", dir / "a.cab"));
  std::filesystem::copy_file(dir / "a.cab", dir / "b.cab");
  const std::string oldDer = ReadSignature(dir / "a.cab");
  SignedMessage message = SignedMessage::Decode(oldDer);
  message.AddCertificate(test::ToDer(test::Authority("root-a").cert.get()));
  const std::string longer = message.Encode();
  for (const std::string& finalDer : {longer, oldDer, std::string(kSmallSequence)}) {
    ReplaceSignature(dir / "a.cab", static_cast<std::uint32_t>(ReadSignature(dir / "a.cab").size()),
                     finalDer);
    ReplaceSignatureInPlace(
        dir / "b.cab", static_cast<std::uint32_t>(ReadSignature(dir / "b.cab").size()), finalDer);
    EXPECT_EQ(ReadFileBytes(dir / "b.cab"), ReadFileBytes(dir / "a.cab"));
    EXPECT_EQ(ReadSignature(dir / "b.cab"), finalDer);
  }
  const std::string before = ReadFileBytes(dir / "b.cab");
  EXPECT_THROW(ReplaceSignatureInPlace(dir / "b.cab", 1000, kSmallSequence), std::invalid_argument);
  EXPECT_EQ(ReadFileBytes(dir / "b.cab"), before);
}

// --- A cabinet larger than 64 MiB goes through the same fixed buffers.

TEST(CabLargeTest, SeventyMebibyteCabinetSignsLikeOsslsigncode) {
  TempDir dir;
  const std::string zeros = dir / "zeros.bin", cab = dir / "big.cab", theirs = dir / "theirs.cab";
  WriteFileBytes(zeros, "");
  std::filesystem::resize_file(zeros, 70u << 20);  // sparse
  Gcab({"-c", "-n"}, cab, {zeros});
  ASSERT_NO_FATAL_FAILURE(OsslSign(cab, theirs));
  PrepareForSigning(cab);
  EXPECT_EQ(Hex(AuthenticodeDigest(cab, EVP_sha256())), OsslVerifiedDigest(theirs));
  WriteSignature(cab, ReadSignature(theirs));
  EXPECT_EQ(RunCommand("/usr/bin/cmp", {cab, theirs}).exitStatus, 0);
}

}  // namespace
}  // namespace corvane::cab
