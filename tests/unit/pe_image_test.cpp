#include "formats/pe/pe_image.h"

#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>

#include "fixtures/pe_images.h"
#include "fixtures/run_command.h"
#include "fixtures/temp_dir.h"
#include "fixtures/test_pki.h"

namespace corvane::pe {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::TestImagePath;
using test::WriteFileBytes;

struct ImageInfo {
  const char* name;
  bool pe32plus;
  std::uint16_t machine;
  std::uint16_t subsystem;
};

const ImageInfo kImages[] = {
    {"console-x64.exe", true, 0x8664, 3}, {"library-x64.dll", true, 0x8664, 3},
    {"driver-x64.sys", true, 0x8664, 1},  {"app-x64.efi", true, 0x8664, 10},
    {"console-x86.exe", false, 0x14c, 3}, {"library-x86.dll", false, 0x14c, 3},
};

// --- little-endian fields of a file held in memory ---

std::uint32_t U32(const std::string& b, std::uint64_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b.at(at + i));
  return v;
}

void PutU32(std::string& b, std::uint64_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<char>(v >> (8 * i));
}

void PutU16(std::string& b, std::uint64_t at, std::uint16_t v) {
  b.at(at) = static_cast<char>(v);
  b.at(at + 1) = static_cast<char>(v >> 8);
}

std::uint64_t AlignUp(std::uint64_t v, std::uint64_t a) { return (v + a - 1) / a * a; }

struct Offsets {
  std::uint64_t lfanew, opt, rvaCount, security, sectionTable;
};

Offsets OffsetsOf(const std::string& b) {
  Offsets o{};
  o.lfanew = U32(b, 0x3c);
  o.opt = o.lfanew + 24;
  const bool plus = (U32(b, o.opt) & 0xffff) == 0x20b;
  o.rvaCount = o.opt + (plus ? 108 : 92);
  o.security = o.opt + (plus ? 144 : 128);
  o.sectionTable = o.opt + (U32(b, o.lfanew + 20) & 0xffff);
  return o;
}

// Appends a certificate table holding one entry per blob (dwLength without padding, each entry
// padded to 8) and points the security entry at it. The table starts where the bytes end.
std::string WithTable(std::string bytes, const std::vector<std::string>& blobs) {
  const std::uint64_t start = bytes.size();
  for (const std::string& blob : blobs) {
    std::string header(8, '\0');
    PutU32(header, 0, static_cast<std::uint32_t>(blob.size() + 8));
    PutU16(header, 4, 0x0200);
    PutU16(header, 6, 2);
    bytes += header + blob;
    bytes.resize(AlignUp(bytes.size(), 8), '\0');
  }
  const Offsets o = OffsetsOf(bytes);
  PutU32(bytes, o.security, static_cast<std::uint32_t>(start));
  PutU32(bytes, o.security + 4, static_cast<std::uint32_t>(bytes.size() - start));
  return bytes;
}

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) out += {digits[c >> 4], digits[c & 15]};
  return out;
}

// --- osslsigncode as the independent reference ---

std::string ProgramInPath(const std::string& name) {
  std::istringstream path(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin");
  for (std::string dir; std::getline(path, dir, ':');) {
    std::string candidate = dir + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

test::CommandResult Osslsigncode(const std::vector<std::string>& args) {
  static const std::string program = ProgramInPath("osslsigncode");
  if (program.empty()) return {127, "", "osslsigncode is not installed"};
  return test::RunCommand(program, args);
}

// The value printed after "<label>" and a colon on one line of `text`; empty when absent.
std::string Field(const std::string& text, const std::string& label) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(label, 0) != 0) continue;
    std::size_t colon = line.find(':', label.size());
    if (colon == std::string::npos || line.find_first_not_of(' ', label.size()) != colon) continue;
    std::istringstream value(line.substr(colon + 1));
    std::string word;
    value >> word;
    return word;
  }
  return {};
}

struct Verdict {
  bool ok = false;                 // exit status 0: digest, signature and chain all verified
  std::string currentDigest;       // from the signature
  std::string calculatedDigest;    // over the file
  std::string storedChecksum;      // in the header
  std::string calculatedChecksum;  // over the file
  std::string output;
};

struct SigningKey {
  TempDir dir;
  std::string cert = dir / "signer.pem";
  std::string key = dir / "signer.key";
};

const SigningKey& Signer() {
  static SigningKey signer;
  static const bool written = [] {
    test::KeyedCert kc = test::Issue(test::CertSpec{}, nullptr);
    WriteFileBytes(signer.cert, test::ToPem(kc.cert.get()));
    BioPtr bio(BIO_new_file(signer.key.c_str(), "w"));
    return PEM_write_bio_PrivateKey(bio.get(), kc.key.get(), nullptr, nullptr, 0, nullptr,
                                    nullptr) == 1;
  }();
  (void)written;
  return signer;
}

Verdict Verify(const std::string& path) {
  test::CommandResult r = Osslsigncode({"verify", "-CAfile", Signer().cert, "-in", path});
  Verdict v;
  v.ok = r.exitStatus == 0;
  v.output = r.out + r.err;
  v.currentDigest = Field(r.out, "Current message digest");
  v.calculatedDigest = Field(r.out, "Calculated message digest");
  // One "PE checksum" line when the stored value is right, two lines when it is not.
  v.storedChecksum = Field(r.out, "Current PE checksum");
  v.calculatedChecksum = Field(r.out, "Calculated PE checksum");
  if (v.storedChecksum.empty())
    v.storedChecksum = v.calculatedChecksum = Field(r.out, "PE checksum");
  return v;
}

std::string Sign(const std::string& in, const std::string& out, const std::string& md) {
  test::CommandResult r = Osslsigncode(
      {"sign", "-certs", Signer().cert, "-key", Signer().key, "-h", md, "-in", in, "-out", out});
  return r.exitStatus == 0 ? std::string() : r.out + r.err;
}

std::string Hex32(std::uint32_t v) {
  char buf[9];
  std::snprintf(buf, sizeof buf, "%08X", v);
  return buf;
}

// The message digest inside the SpcIndirectDataContent of a PKCS #7 signature, after checking
// that the DER holds exactly one SignedData.
std::string IndirectDigest(const std::string& der) {
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  Pkcs7Ptr p7(d2i_PKCS7(nullptr, &p, static_cast<long>(der.size())));
  if (!p7 || p != reinterpret_cast<const unsigned char*>(der.data()) + der.size() ||
      !PKCS7_type_is_signed(p7.get()))
    return {};
  const PKCS7* content = p7->d.sign->contents;
  char oid[64];
  OBJ_obj2txt(oid, sizeof oid, content->type, 1);
  if (std::string(oid) != "1.3.6.1.4.1.311.2.1.4" || !content->d.other ||
      content->d.other->type != V_ASN1_SEQUENCE)
    return {};
  const ASN1_STRING* seq = content->d.other->value.sequence;
  const unsigned char* q = seq->data;
  const unsigned char* end = q + seq->length;
  long length = 0;
  int tag = 0, cls = 0;
  auto enter = [&](int wanted) {
    return q < end && !(ASN1_get_object(&q, &length, &tag, &cls, end - q) & 0x80) && tag == wanted;
  };
  // SEQUENCE { data SEQUENCE, DigestInfo SEQUENCE { algorithm SEQUENCE, digest OCTET STRING } }
  if (!enter(V_ASN1_SEQUENCE) || !enter(V_ASN1_SEQUENCE)) return {};
  q += length;
  if (!enter(V_ASN1_SEQUENCE) || !enter(V_ASN1_SEQUENCE)) return {};
  q += length;
  if (!enter(V_ASN1_OCTET_STRING)) return {};
  return std::string(reinterpret_cast<const char*>(q), static_cast<std::size_t>(length));
}

// Checks that `path` ends in a table of exactly one entry holding `blob`, starting at
// `imageEnd`, and that the checksum is right.
void ExpectSingleEntry(const std::string& path, const std::string& blob, std::uint64_t imageEnd) {
  const std::string bytes = ReadFileBytes(path);
  const PeLayout layout = ReadLayout(path);
  EXPECT_EQ(layout.certTableOffset, imageEnd);
  EXPECT_EQ(layout.certTableOffset % 8, 0u);
  EXPECT_EQ(layout.certTableSize, AlignUp(blob.size() + 8, 8));
  EXPECT_EQ(std::uint64_t{layout.certTableOffset} + layout.certTableSize, bytes.size());
  EXPECT_EQ(layout.fileSize, bytes.size());
  EXPECT_EQ(U32(bytes, OffsetsOf(bytes).security), layout.certTableOffset);
  EXPECT_EQ(U32(bytes, layout.certTableOffset), blob.size() + 8);  // dwLength
  EXPECT_EQ(bytes.substr(layout.certTableOffset + 4, 4), std::string("\x00\x02\x02\x00", 4));
  EXPECT_EQ(bytes.substr(layout.certTableOffset + 8, blob.size()), blob);
  EXPECT_EQ(bytes.find_first_not_of('\0', layout.certTableOffset + 8 + blob.size()),
            std::string::npos);
  EXPECT_EQ(layout.checksum, ComputeChecksum(path));

  const std::vector<CertificateEntry> entries = ReadCertificates(path);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].revision, 0x0200);
  EXPECT_EQ(entries[0].type, 2);
  EXPECT_EQ(entries[0].data, blob);
}

TEST(PeImage, LayoutOfEachImage) {
  for (const ImageInfo& image : kImages) {
    SCOPED_TRACE(image.name);
    const std::string path = TestImagePath(image.name);
    const std::string bytes = ReadFileBytes(path);
    ASSERT_FALSE(bytes.empty());
    const Offsets o = OffsetsOf(bytes);
    EXPECT_TRUE(LooksLikePe(path));
    const PeLayout layout = ReadLayout(path);
    EXPECT_EQ(layout.pe32plus, image.pe32plus);
    EXPECT_EQ(layout.machine, image.machine);
    EXPECT_EQ(layout.subsystem, image.subsystem);
    EXPECT_EQ(layout.fileSize, bytes.size());
    EXPECT_EQ(layout.checksumOffset, o.opt + 64);
    EXPECT_EQ(layout.securityEntryOffset, o.security);
    EXPECT_GE(layout.sizeOfHeaders, o.sectionTable);
    EXPECT_EQ(layout.certTableOffset, 0u);
    EXPECT_EQ(layout.certTableSize, 0u);
    EXPECT_EQ(layout.checksum, U32(bytes, o.opt + 64));
    EXPECT_TRUE(ReadCertificates(path).empty());
    EXPECT_EQ(ReadSignature(path), "");

    const Verdict v = Verify(path);
    EXPECT_EQ(v.storedChecksum, Hex32(layout.checksum)) << v.output;
    EXPECT_EQ(v.calculatedChecksum, Hex32(ComputeChecksum(path))) << v.output;
  }
}

TEST(PeImage, LooksLikePeOnlyForPeSignatures) {
  TempDir dir;
  std::string mzOnly = ReadFileBytes(TestImagePath("console-x64.exe"));
  mzOnly[OffsetsOf(mzOnly).lfanew] = 'N';
  const std::pair<std::string, std::string> files[] = {
      {"text", "just some text, long enough to hold a DOS header but nothing like one........"},
      {"empty", ""},
      {"mz-only", mzOnly},
  };
  for (const auto& [name, content] : files) {
    WriteFileBytes(dir / name, content);
    EXPECT_FALSE(LooksLikePe(dir / name)) << name;
  }
  EXPECT_FALSE(LooksLikePe(dir / "missing"));
  EXPECT_THROW(ReadLayout(dir / "missing"), std::system_error);
}

// Every image signed once by osslsigncode with SHA-256 and with SHA-1.
struct SignedImage {
  std::string name, original, sha256, sha1;
};

struct SignedSet {
  TempDir dir;
  std::vector<SignedImage> images;
  std::string error;
};

const SignedSet& SignedImages() {
  static SignedSet set;
  static const bool signedAll = [] {
    for (const ImageInfo& image : kImages) {
      const std::string stem = set.dir / image.name;
      SignedImage si{image.name, TestImagePath(image.name), stem + ".sha256", stem + ".sha1"};
      set.error += Sign(si.original, si.sha256, "sha256") + Sign(si.original, si.sha1, "sha1");
      set.images.push_back(si);
    }
    return true;
  }();
  (void)signedAll;
  return set;
}

TEST(PeImage, DigestMatchesOsslsigncode) {
  const SignedSet& set = SignedImages();
  ASSERT_EQ(set.error, "");
  for (const SignedImage& image : set.images) {
    for (const auto& [signedPath, md] :
         {std::pair{image.sha256, EVP_sha256()}, std::pair{image.sha1, EVP_sha1()}}) {
      SCOPED_TRACE(signedPath);
      const Verdict v = Verify(signedPath);
      EXPECT_TRUE(v.ok) << v.output;
      const std::string ours = Hex(AuthenticodeDigest(signedPath, md));
      EXPECT_EQ(ours, v.currentDigest);
      EXPECT_EQ(ours, v.calculatedDigest);
      // Signing appends only the table: the unsigned image has the same digest.
      EXPECT_EQ(ours, Hex(AuthenticodeDigest(image.original, md)));
      // The signature we read back is the whole DER and carries that digest.
      EXPECT_EQ(Hex(IndirectDigest(ReadSignature(signedPath))), ours);
      EXPECT_EQ(ReadLayout(signedPath).checksum, ComputeChecksum(signedPath));
      EXPECT_EQ(v.calculatedChecksum, Hex32(ComputeChecksum(signedPath)));
    }
  }
}

// One digest pass is all signing reads: a copy takes over the source's digest state and word
// sum, padding extends them, and the table write takes its checksum from them. The result must
// be what a fresh read of the file gives.
TEST(PeImage, ImageObjectCarriesItsDigestPassThroughPaddingAndTheTableWrite) {
  TempDir dir;
  for (const ImageInfo& info : kImages) {
    for (const std::string overlay : {"", "odd"}) {
      SCOPED_TRACE(std::string(info.name) + " + " + std::to_string(overlay.size()));
      const std::string source = dir / "source.exe", copy = dir / "copy.exe";
      WriteFileBytes(source, ReadFileBytes(TestImagePath(info.name)) + overlay);
      Image original(source);
      const std::string before = original.AuthenticodeDigest(EVP_sha256());
      WriteFileBytes(copy, ReadFileBytes(source));
      Image image(copy, original);
      EXPECT_EQ(image.AuthenticodeDigest(EVP_sha256()), before);
      image.AlignForCertificateTable();
      const std::string aligned = image.AuthenticodeDigest(EVP_sha256());
      EXPECT_EQ(aligned, AuthenticodeDigest(copy, EVP_sha256()));
      EXPECT_EQ(aligned == before, overlay.empty());
      EXPECT_EQ(ReadLayout(copy).checksum, ComputeChecksum(copy));
      image.ReplaceSignature(std::string("\x30\x03\x02\x01\x07", 5));
      EXPECT_EQ(ReadLayout(copy).checksum, ComputeChecksum(copy));
      EXPECT_EQ(image.AuthenticodeDigest(EVP_sha256()), aligned);
      EXPECT_EQ(image.AuthenticodeDigest(EVP_sha1()), AuthenticodeDigest(copy, EVP_sha1()));
    }
  }
}

// osslsigncode's signature, moved out and back in by us, still verifies: osslsigncode accepts
// our table layout and checksum. Removing the signature gives back the original bytes.
TEST(PeImage, MovedSignatureStillVerifies) {
  const SignedSet& set = SignedImages();
  ASSERT_EQ(set.error, "");
  TempDir dir;
  for (const SignedImage& image : set.images) {
    SCOPED_TRACE(image.name);
    const std::string work = dir / image.name;
    std::filesystem::copy_file(image.sha256, work);
    const std::string blob = ReadSignature(work);
    ASSERT_FALSE(blob.empty());

    RemoveSignatures(work);
    EXPECT_EQ(ReadFileBytes(work), ReadFileBytes(image.original));  // its checksum was right
    EXPECT_EQ(AuthenticodeDigest(work, EVP_sha256()),
              AuthenticodeDigest(image.original, EVP_sha256()));

    ReplaceSignature(work, blob);
    ExpectSingleEntry(work, blob, ReadFileBytes(image.original).size());
    const Verdict v = Verify(work);
    EXPECT_TRUE(v.ok) << v.output;
    EXPECT_EQ(v.currentDigest, v.calculatedDigest);
    EXPECT_EQ(v.storedChecksum, v.calculatedChecksum) << v.output;
    EXPECT_EQ(v.calculatedChecksum, Hex32(ComputeChecksum(work)));
  }
}

TEST(PeImage, ReplaceSignatureLeavesOneAlignedEntry) {
  struct Case {
    const char* image;
    std::size_t overlay;              // bytes of trailing data after the sections
    std::vector<std::string> before;  // entries of an existing table
    std::size_t blobSize;
  };
  const Case cases[] = {
      {"console-x64.exe", 0, {}, 1},
      {"console-x64.exe", 0, {}, 16},
      {"library-x86.dll", 0, {}, 1413},
      {"library-x86.dll", 0, {std::string(13, 'a'), std::string(40, 'b')}, 21},
      {"driver-x64.sys", 3, {}, 8},
      {"app-x64.efi", 5, {std::string(3, 'c')}, 100},  // the old table starts unaligned
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.image) + " overlay " + std::to_string(c.overlay) + " blob " +
                 std::to_string(c.blobSize));
    const std::string path = dir / "work";
    std::string image = ReadFileBytes(TestImagePath(c.image)) + std::string(c.overlay, '\x5a');
    const std::string padded = image + std::string(AlignUp(image.size(), 8) - image.size(), '\0');
    WriteFileBytes(dir / "padded", padded);
    std::string bytes = c.before.empty() ? image : WithTable(image, c.before);
    PutU32(bytes, OffsetsOf(bytes).opt + 64, 0x12345678);  // a stale checksum
    WriteFileBytes(path, bytes);
    if (!c.before.empty() && image.size() % 8 == 0) {
      std::vector<CertificateEntry> old = ReadCertificates(path);
      ASSERT_EQ(old.size(), c.before.size());
      for (std::size_t i = 0; i < old.size(); ++i) EXPECT_EQ(old[i].data, c.before[i]);
      EXPECT_EQ(ReadSignature(path), c.before[0]);
    }

    std::string blob(c.blobSize, '\0');
    for (std::size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<char>(i * 7 + 1);
    ReplaceSignature(path, blob);
    ExpectSingleEntry(path, blob, padded.size());
    EXPECT_EQ(AuthenticodeDigest(path, EVP_sha256()),
              AuthenticodeDigest(dir / "padded", EVP_sha256()));

    RemoveSignatures(path);
    EXPECT_EQ(ReadFileBytes(path).size(), padded.size());
    EXPECT_EQ(ReadLayout(path).certTableOffset, 0u);
    EXPECT_EQ(ReadLayout(path).checksum, ComputeChecksum(path));
    EXPECT_EQ(AuthenticodeDigest(path, EVP_sha256()),
              AuthenticodeDigest(dir / "padded", EVP_sha256()));
  }
  EXPECT_THROW(ReplaceSignature(dir / "work", ""), std::invalid_argument);
}

// Padding an unaligned image: the digest of the padded image is what osslsigncode signs, and
// an existing table is moved along intact.
TEST(PeImage, AlignForCertificateTable) {
  TempDir dir;
  const std::string image = ReadFileBytes(TestImagePath("console-x86.exe"));
  const std::string unaligned = image + "xyz";
  WriteFileBytes(dir / "unaligned", unaligned);
  ASSERT_EQ(Sign(dir / "unaligned", dir / "signed", "sha256"), "");
  const Verdict v = Verify(dir / "signed");
  EXPECT_TRUE(v.ok) << v.output;
  EXPECT_EQ(ReadLayout(dir / "signed").certTableOffset, AlignUp(unaligned.size(), 8));
  EXPECT_EQ(Hex(AuthenticodeDigest(dir / "signed", EVP_sha256())), v.currentDigest);

  const std::string kept(11, 'k');
  struct Case {
    const char* name;
    std::string bytes;
    std::string digest;  // expected SHA-256 digest after aligning
  };
  const Case cases[] = {
      {"aligned", image, Hex(AuthenticodeDigest(TestImagePath("console-x86.exe"), EVP_sha256()))},
      {"unaligned", unaligned, v.currentDigest},
      {"unaligned with a table", WithTable(unaligned, {kept}), v.currentDigest},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir / "work";
    WriteFileBytes(path, c.bytes);
    AlignForCertificateTable(path);
    const std::string bytes = ReadFileBytes(path);
    const PeLayout layout = ReadLayout(path);
    const std::size_t dataSize = c.bytes == image ? image.size() : unaligned.size();
    const std::uint64_t imageEnd = AlignUp(dataSize, 8);
    EXPECT_EQ(layout.certTableOffset ? layout.certTableOffset : layout.fileSize, imageEnd);
    EXPECT_EQ(bytes.find_first_not_of('\0', dataSize),
              layout.certTableOffset == 0 ? std::string::npos : imageEnd);
    EXPECT_EQ(Hex(AuthenticodeDigest(path, EVP_sha256())), c.digest);
    EXPECT_EQ(layout.checksum, ComputeChecksum(path));
    if (c.bytes == image) {
      EXPECT_EQ(bytes, image);
    }
    if (layout.certTableOffset != 0) {
      const std::vector<CertificateEntry> entries = ReadCertificates(path);
      ASSERT_EQ(entries.size(), 1u);
      EXPECT_EQ(entries[0].data, kept);
    }
  }
}

TEST(PeImage, LargeImageMatchesOsslsigncode) {
  TempDir dir;
  const std::uint64_t size = 3 * (1 << 20) + 12345;  // several read chunks, the last one partial
  const std::string path = test::MakeLargePeImage(dir / "large.exe", size);
  const PeLayout layout = ReadLayout(path);
  EXPECT_GE(layout.fileSize, size);
  EXPECT_EQ(layout.checksum, ComputeChecksum(path));
  ASSERT_EQ(Sign(path, dir / "signed.exe", "sha256"), "");
  const Verdict v = Verify(dir / "signed.exe");
  EXPECT_TRUE(v.ok) << v.output;
  EXPECT_EQ(Hex(AuthenticodeDigest(path, EVP_sha256())), v.currentDigest);
  EXPECT_EQ(Hex(AuthenticodeDigest(dir / "signed.exe", EVP_sha256())), v.calculatedDigest);
  EXPECT_EQ(Hex32(ComputeChecksum(dir / "signed.exe")), v.calculatedChecksum);
}

TEST(PeImage, MalformedImagesAreRefused) {
  enum class Stage { Headers, Entries };  // what is refused: everything, or the entries only
  using Mutation = std::function<void(std::string&, const Offsets&)>;
  struct Case {
    const char* name;
    bool withTable;
    Stage stage;
    Mutation mutate;
  };
  auto truncate = [](std::uint64_t Offsets::*field, std::uint64_t extra) {
    return [=](std::string& b, const Offsets& o) { b.resize(o.*field + extra); };
  };
  auto setU32 = [](std::uint64_t Offsets::*field, std::uint64_t extra, std::uint32_t value) {
    return [=](std::string& b, const Offsets& o) { PutU32(b, o.*field + extra, value); };
  };
  auto setDwLength = [](std::uint32_t value) {
    return [=](std::string& b, const Offsets& o) { PutU32(b, U32(b, o.security), value); };
  };
  const Case cases[] = {
      {"empty file", false, Stage::Headers, [](std::string& b, const Offsets&) { b.clear(); }},
      {"cut in the DOS header", false, Stage::Headers,
       [](std::string& b, const Offsets&) { b.resize(40); }},
      {"cut in the PE signature", false, Stage::Headers, truncate(&Offsets::lfanew, 2)},
      {"cut in the COFF header", false, Stage::Headers, truncate(&Offsets::lfanew, 12)},
      {"cut in the optional header", false, Stage::Headers, truncate(&Offsets::opt, 70)},
      {"cut in the section table", false, Stage::Headers, truncate(&Offsets::sectionTable, 85)},
      {"no MZ", false, Stage::Headers, [](std::string& b, const Offsets&) { b[1] = 'X'; }},
      {"e_lfanew past EOF", false, Stage::Headers,
       [](std::string& b, const Offsets&) {
         PutU32(b, 0x3c, static_cast<std::uint32_t>(b.size()));
       }},
      {"e_lfanew near 4 GiB", false, Stage::Headers,
       [](std::string& b, const Offsets&) { PutU32(b, 0x3c, 0xfffffffc); }},
      {"no PE signature", false, Stage::Headers,
       [](std::string& b, const Offsets& o) { b[o.lfanew + 1] = 'X'; }},
      {"ROM magic", false, Stage::Headers,
       [](std::string& b, const Offsets& o) { PutU16(b, o.opt, 0x107); }},
      {"optional header too small", false, Stage::Headers,
       [](std::string& b, const Offsets& o) { PutU16(b, o.lfanew + 20, 120); }},
      {"NumberOfRvaAndSizes 0", false, Stage::Headers, setU32(&Offsets::rvaCount, 0, 0)},
      {"NumberOfRvaAndSizes 4", false, Stage::Headers, setU32(&Offsets::rvaCount, 0, 4)},
      {"section table past EOF", false, Stage::Headers,
       [](std::string& b, const Offsets& o) { PutU16(b, o.lfanew + 6, 0xffff); }},
      {"SizeOfHeaders past EOF", false, Stage::Headers,
       [](std::string& b, const Offsets& o) {
         PutU32(b, o.opt + 60, static_cast<std::uint32_t>(b.size() + 1));
       }},
      {"table past EOF", false, Stage::Headers,
       [](std::string& b, const Offsets& o) {
         PutU32(b, o.security, static_cast<std::uint32_t>(b.size() + 8));
         PutU32(b, o.security + 4, 16);
       }},
      {"table size past EOF", true, Stage::Headers,
       [](std::string& b, const Offsets& o) {
         PutU32(b, o.security + 4, U32(b, o.security + 4) + 8);
       }},
      {"table size wraps", true, Stage::Headers, setU32(&Offsets::security, 4, 0xfffffff8)},
      {"table overlaps the headers", true, Stage::Headers,
       [](std::string& b, const Offsets& o) {
         PutU32(b, o.security, 0x100);
         PutU32(b, o.security + 4, static_cast<std::uint32_t>(b.size() - 0x100));
       }},
      {"table offset without size", true, Stage::Headers, setU32(&Offsets::security, 4, 0)},
      {"table size without offset", true, Stage::Headers, setU32(&Offsets::security, 0, 0)},
      {"data after the table", true, Stage::Headers,
       [](std::string& b, const Offsets&) { b += std::string(8, 'z'); }},
      {"table shorter than a header", false, Stage::Headers,
       [](std::string& b, const Offsets& o) {
         PutU32(b, o.security, static_cast<std::uint32_t>(b.size() - 4));
         PutU32(b, o.security + 4, 4);
       }},
      {"dwLength 0", true, Stage::Entries, setDwLength(0)},
      {"dwLength 7", true, Stage::Entries, setDwLength(7)},
      {"dwLength past the table", true, Stage::Entries, setDwLength(32)},
      {"dwLength near 4 GiB", true, Stage::Entries, setDwLength(0xfffffff0)},
      {"stray bytes after the entry", true, Stage::Entries,
       [](std::string& b, const Offsets& o) {
         b += "abcd";
         PutU32(b, o.security + 4, U32(b, o.security + 4) + 4);
       }},
      {"more entries than any signer writes", false, Stage::Entries,
       [](std::string& b, const Offsets&) { b = WithTable(b, std::vector<std::string>(65)); }},
      {"table not on an 8-byte boundary", false, Stage::Entries,
       [](std::string& b, const Offsets&) { b = WithTable(b + "odd", {"signature"}); }},
  };

  TempDir dir;
  const std::string path = dir / "bad";
  for (const char* base : {"console-x64.exe", "library-x86.dll"}) {
    const std::string image = ReadFileBytes(TestImagePath(base));
    const std::string withTable = WithTable(image, {std::string(13, 's')});  // one 24-byte entry
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(base) + ": " + c.name);
      std::string bytes = c.withTable ? withTable : image;
      c.mutate(bytes, OffsetsOf(c.withTable ? withTable : image));
      const auto fresh = [&] {
        std::filesystem::remove(path);  // a new file: rewriting one in place waits for the disk
        WriteFileBytes(path, bytes);
        return path;
      };
      (void)LooksLikePe(fresh());
      EXPECT_THROW(ReadCertificates(fresh()), PeFormatError);
      EXPECT_THROW(ReadSignature(fresh()), PeFormatError);
      if (c.stage == Stage::Headers) {
        EXPECT_THROW(ReadLayout(fresh()), PeFormatError);
        EXPECT_THROW(AuthenticodeDigest(fresh(), EVP_sha256()), PeFormatError);
        EXPECT_THROW(ComputeChecksum(fresh()), PeFormatError);
        EXPECT_THROW(AlignForCertificateTable(fresh()), PeFormatError);
        EXPECT_THROW(ReplaceSignature(fresh(), "sig"), PeFormatError);
        EXPECT_THROW(RemoveSignatures(fresh()), PeFormatError);
      } else {
        // The table's place is sound, only its entries are not: the image can be hashed, and
        // re-signing or unsigning replaces the table as a whole.
        EXPECT_NO_THROW(AuthenticodeDigest(fresh(), EVP_sha256()));
        ReplaceSignature(fresh(), "sig");
        EXPECT_EQ(ReadSignature(path), "sig");
        RemoveSignatures(fresh());
        EXPECT_TRUE(ReadCertificates(path).empty());
      }
    }
  }
}

}  // namespace
}  // namespace corvane::pe
