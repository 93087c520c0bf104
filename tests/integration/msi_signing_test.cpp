#include <gtest/gtest.h>

#include <filesystem>

#include "cert/cert_manager.h"
#include "crypto/signed_message.h"
#include "crypto/trust_store.h"
#include "fixtures/compound_files.h"
#include "fixtures/run_command.h"
#include "fixtures/signing_environment.h"
#include "formats/cfb/compound_file.h"
#include "formats/file_reader.h"
#include "formats/msi/msi_package.h"
#include "sign/authenticode_verifier.h"
#include "sign/file_sign.h"

namespace corvane {
namespace {

class MsiSigning : public ::testing::Test {
 protected:
  void Load(const test::TestSigner& signer) {
    manager_.LoadPfx(signer.pfxPath, signer.password);
    manager_.BuildChain();
    manager_.RecognizeOwnCa();
  }
  std::string Sign(const std::string& path, bool append = false) {
    std::unique_ptr<CFileSign> signer = CreateFileSigner("msiType");
    signer->SetCertManager(&manager_);
    try {
      signer->SignFile(path, path, append);
      return "succeed";
    } catch (const std::exception& e) {
      return e.what();
    }
  }
  VerifyReport Verify(const std::string& path) {
    X509StorePtr store = BuildTrustStore({env_.trustBundle()});
    return VerifyTrust(path, store.get());
  }
  std::string CopyPackage(const std::string& as = "sample.msi") {
    std::string target = env_.dir() / (std::to_string(++copies_) + "-" + as);
    std::filesystem::copy_file(test::TestPackagePath(), target);
    return target;
  }
  static std::string Problem(const VerifyReport& r) {
    return r.primary.problems.empty() ? "" : r.primary.problems[0];
  }

  test::SigningEnvironment env_;
  CertManager manager_;
  int copies_ = 0;
};

test::CommandResult MsiInfo(const std::string& what, const std::string& path) {
  return test::RunCommand("/usr/bin/msiinfo", {what, path});
}

std::vector<std::string> NestedValues(const std::string& path) {
  for (const MessageAttribute& a :
       SignedMessage::Decode(msi::ReadSignature(path)).UnauthenticatedAttributes())
    if (a.oid == kOidNestedSignature) return a.values;
  return {};
}

TEST_F(MsiSigning, SignedTimestampedPackageVerifiesAndStillOpens) {
  Load(env_.rootA());
  std::string path = CopyPackage();
  test::CommandResult streamsBefore = MsiInfo("streams", path);
  test::CommandResult tablesBefore = MsiInfo("tables", path);
  ASSERT_EQ(streamsBefore.exitStatus, 0) << streamsBefore.err;
  ASSERT_EQ(Sign(path), "succeed");

  VerifyReport report = Verify(path);
  EXPECT_TRUE(report.trusted) << Problem(report);
  EXPECT_TRUE(report.primary.timestamped);
  EXPECT_EQ(report.primary.digestAlgorithm, "sha256");
  std::string log;
  EXPECT_EQ(env_.OsslVerify(path, &log), 0) << log;

  test::CommandResult tables = MsiInfo("tables", path);
  EXPECT_EQ(tables.exitStatus, 0) << tables.err;
  EXPECT_EQ(tables.out, tablesBefore.out);
  test::CommandResult streams = MsiInfo("streams", path);
  EXPECT_EQ(streams.exitStatus, 0) << streams.err;
  EXPECT_NE(streams.out.find("DigitalSignature"), std::string::npos) << streams.out;

  // Exactly one signature stream, as long as the signature.
  cfb::CompoundFile file(path);
  int signatureStreams = 0;
  for (std::uint32_t id : file.Children(cfb::kRootEntry))
    if (file.entry(id).name == msi::kSignatureStream) {
      ++signatureStreams;
      EXPECT_EQ(file.entry(id).size,
                SignedMessage::Decode(msi::ReadSignature(path)).Encode().size());
    }
  EXPECT_EQ(signatureStreams, 1);
}

TEST_F(MsiSigning, AppendingTwiceNestsAndReplacingShrinksTheStream) {
  std::string path = CopyPackage();
  Load(env_.sha1());
  ASSERT_EQ(Sign(path, /*append=*/true), "succeed");
  Load(env_.rootA());
  ASSERT_EQ(Sign(path, true), "succeed");
  std::vector<std::string> once = NestedValues(path);
  ASSERT_EQ(once.size(), 1u);
  Load(env_.rootB());
  ASSERT_EQ(Sign(path, true), "succeed");
  std::vector<std::string> twice = NestedValues(path);
  ASSERT_EQ(twice.size(), 2u);
  EXPECT_EQ(twice[0], once[0]);

  VerifyReport report = Verify(path);
  EXPECT_TRUE(report.trusted) << Problem(report);
  EXPECT_EQ(report.primary.digestAlgorithm, "sha1");
  ASSERT_EQ(report.nested.size(), 2u);
  for (const SignatureReport& nested : report.nested) EXPECT_TRUE(nested.valid);
  std::string log;
  EXPECT_EQ(env_.OsslVerify(path, &log), 0) << log;
  EXPECT_NE(log.find("Number of verified signatures: 3"), std::string::npos) << log;

  // A fresh signature is shorter than the nested one it replaces: the stream shrinks with it.
  const std::size_t nestedSize = msi::ReadSignature(path).size();
  ASSERT_EQ(Sign(path, false), "succeed");
  const std::string single = msi::ReadSignature(path);
  EXPECT_LT(single.size(), nestedSize);
  EXPECT_EQ(SignedMessage::Decode(single).Encode(), single);
  EXPECT_TRUE(NestedValues(path).empty());
  EXPECT_TRUE(Verify(path).trusted);
  EXPECT_EQ(env_.OsslVerify(path, &log), 0) << log;
  EXPECT_EQ(MsiInfo("tables", path).exitStatus, 0);
}

// Compound files of other shapes, written by libgsf: storages with class ids, both sector
// sizes, streams in and out of the mini stream. osslsigncode checks our digest order.
TEST_F(MsiSigning, StoragesClassIdsAndBothSectorSizesAgreeWithOsslsigncode) {
  Load(env_.rootB());
  test::CompoundNode root;
  root.clsid = {0x84, 0x10, 0x0C, 0x00, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  test::CompoundNode storage{
      "Sub", true, "", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
  storage.children = {{"inner", false, std::string(5000, 'i')}, {"b", false, "bee"}};
  root.children = {{"Zeta", false, "last by name"},
                   {"alpha", false, std::string(70000, 'a')},
                   storage,
                   {"\x05SummaryInformation", false, std::string(300, 's')},
                   {"Alpha2", false, ""}};
  for (unsigned sectorSize : {512u, 4096u}) {
    SCOPED_TRACE(sectorSize);
    std::string path = env_.dir() / ("gsf-" + std::to_string(sectorSize) + ".msi");
    test::WriteCompoundFile(path, root, sectorSize);
    test::CompoundNode before = test::ReadCompoundFile(path);
    ASSERT_EQ(Sign(path), "succeed");
    VerifyReport report = Verify(path);
    EXPECT_TRUE(report.trusted) << Problem(report);
    std::string log;
    EXPECT_EQ(env_.OsslVerify(path, &log), 0) << log;

    test::CompoundNode after = test::ReadCompoundFile(path);
    EXPECT_EQ(after.clsid, before.clsid);
    ASSERT_EQ(after.children.size(), before.children.size() + 1);
    for (const test::CompoundNode& node : before.children) {
      auto it = std::find_if(after.children.begin(), after.children.end(),
                             [&](const test::CompoundNode& n) { return n.name == node.name; });
      ASSERT_NE(it, after.children.end()) << node.name;
      EXPECT_EQ(it->content, node.content) << node.name;
      EXPECT_EQ(it->clsid, node.clsid) << node.name;
      EXPECT_EQ(it->children.size(), node.children.size()) << node.name;
    }
  }
}

// A package whose signature carries "MsiDigitalSignatureEx" (the metadata pre-hash, made here
// by osslsigncode): the digest covers that stream first; appending keeps it for the primary.
TEST_F(MsiSigning, PackagesWithTheExtendedSignatureStreamVerifyAndTakeAppendedSignatures) {
  std::string unsignedPath = CopyPackage();
  std::string path = env_.dir() / "dse.msi";
  test::CommandResult r = test::RunCommand(
      "/usr/bin/osslsigncode", {"sign", "-add-msi-dse", "-pkcs12", env_.rootA().pfxPath, "-pass",
                                env_.rootA().password, "-in", unsignedPath, "-out", path});
  ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
  ASSERT_NE(cfb::CompoundFile(path).Find(cfb::kRootEntry, msi::kSignatureExStream), cfb::kNoStream);
  EXPECT_TRUE(Verify(path).trusted) << Problem(Verify(path));

  Load(env_.rootB());
  ASSERT_EQ(Sign(path, /*append=*/true), "succeed");
  VerifyReport report = Verify(path);
  EXPECT_TRUE(report.trusted) << Problem(report);
  ASSERT_EQ(report.nested.size(), 1u);
  EXPECT_TRUE(report.nested[0].valid);
  std::string log;
  EXPECT_EQ(env_.OsslVerify(path, &log), 0) << log;
  EXPECT_NE(log.find("Number of verified signatures: 2"), std::string::npos) << log;

  // A replacing signature with another hash takes the old pre-hash away with the old
  // signature; the package then verifies everywhere with the new one alone.
  Load(env_.sha1());
  ASSERT_EQ(Sign(path, false), "succeed");
  EXPECT_EQ(cfb::CompoundFile(path).Find(cfb::kRootEntry, msi::kSignatureExStream), cfb::kNoStream);
  report = Verify(path);
  EXPECT_TRUE(report.trusted) << Problem(report);
  EXPECT_EQ(report.primary.digestAlgorithm, "sha1");
  EXPECT_EQ(env_.OsslVerify(path, &log), 0) << log;
  EXPECT_EQ(MsiInfo("tables", path).exitStatus, 0);
}

TEST_F(MsiSigning, ATamperedPackageFailsVerification) {
  Load(env_.rootA());
  std::string signedPath = CopyPackage();
  ASSERT_EQ(Sign(signedPath), "succeed");
  struct Case {
    const char* name;
    std::function<void(const std::string&)> tamper;
  } cases[] = {
      {"a stream's content",
       [](const std::string& p) {
         cfb::CompoundFile file(p, true);
         std::uint32_t id = file.Find(cfb::kRootEntry, u"\u0005SummaryInformation");
         std::string content = file.ReadStreamBytes(id, 1 << 20);
         content[content.size() / 2] ^= 1;
         file.WriteRootStream(u"\u0005SummaryInformation", content);
       }},
      {"the root's class id",
       [](const std::string& p) {
         formats::FileEditor editor(p);
         const std::uint64_t dir = (std::uint64_t{editor.U32At(48)} + 1) * 512;
         std::string clsid = editor.ReadAt(dir + 80, 16);
         clsid[0] ^= 1;
         editor.WriteAt(dir + 80, clsid);
       }},
      {"an added stream",
       [](const std::string& p) {
         cfb::CompoundFile(p, true).WriteRootStream(u"extra", "added after signing");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = env_.dir() / "tampered.msi";
    std::filesystem::copy_file(signedPath, path, std::filesystem::copy_options::overwrite_existing);
    c.tamper(path);
    VerifyReport report = Verify(path);
    EXPECT_FALSE(report.trusted);
    EXPECT_NE(Problem(report).find("digest does not match"), std::string::npos) << Problem(report);
    EXPECT_NE(env_.OsslVerify(path), 0);
  }
}

// Damaged packages: a clear refusal, and the file exactly as it was.
TEST_F(MsiSigning, MalformedPackagesAreRefusedAndLeftUnchanged) {
  Load(env_.rootA());
  const std::string good = test::ReadFileBytes(test::TestPackagePath());
  auto u32 = [&](std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(good[at]) |
                                      static_cast<unsigned char>(good[at + 1]) << 8 |
                                      static_cast<unsigned char>(good[at + 2]) << 16 |
                                      static_cast<unsigned char>(good[at + 3]) << 24);
  };
  auto put32 = [](std::string& bytes, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(v >> (8 * i));
  };
  const std::uint32_t firstDir = u32(48);
  const std::size_t dirOffset = (firstDir + 1) * 512;
  const std::size_t fatOffset = (u32(76) + 1) * 512;
  struct Case {
    const char* name;
    std::function<std::string()> make;
  } cases[] = {
      {"shorter than the header", [&] { return good.substr(0, 300); }},
      {"cut in half", [&] { return good.substr(0, good.size() / 2); }},
      {"unknown sector size",
       [&] {
         std::string b = good;
         b[30] = 10;
         return b;
       }},
      {"directory outside the file",
       [&] {
         std::string b = good;
         put32(b, 48, 0x00FFFFF0);
         return b;
       }},
      {"directory chain loops",
       [&] {
         std::string b = good;
         put32(b, fatOffset + 4 * firstDir, firstDir);
         return b;
       }},
      {"root link out of range",
       [&] {
         std::string b = good;
         put32(b, dirOffset + 76, 0x7FFFFFF0);
         return b;
       }},
      {"tree loop",
       [&] {
         std::string b = good;
         const std::uint32_t child = u32(dirOffset + 76);
         put32(b, dirOffset + 128 * child + 68, child);
         return b;
       }},
      {"FAT sector outside the file",
       [&] {
         std::string b = good;
         put32(b, 76, 0x00FFFFF0);
         return b;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = env_.dir() / "damaged.msi";
    std::string bytes = c.make();
    test::WriteFileBytes(path, bytes);
    EXPECT_THROW(cfb::CompoundFile{path}, cfb::CfbFormatError);
    EXPECT_EQ(Sign(path), "file type is not supported");
    EXPECT_EQ(test::ReadFileBytes(path), bytes);
    EXPECT_FALSE(Verify(path).trusted);
  }
}

TEST_F(MsiSigning, EmbeddingNeedsTheSignatureStream) {
  std::string path = CopyPackage();
  const std::string before = test::ReadFileBytes(path);
  MsiFileSign signer;
  try {
    signer.EmbedSignedData(path, std::string("\x30\x03\x02\x01\x07", 5));
    FAIL() << "embedded without a signature stream";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "MsiFileSign::EmbedSignedData, undefined");
  }
  EXPECT_EQ(test::ReadFileBytes(path), before);
}

TEST_F(MsiSigning, TheCliSignsPackagesInTheSameLoop) {
  std::string path = CopyPackage("setup.msi");
  test::CommandResult r = test::RunCli({"sign", "--pfx", env_.rootA().pfxPath, path},
                                       {{"CORVANECODE_PROGRAM_DIR", env_.dir().path()},
                                        {"LANG", "C"},
                                        {"CORVANECODE_TIMESTAMP_HOST", env_.server().hostPort()},
                                        {"CORVANECODE_PFX_PASSWORD", "pw"}});
  EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
  EXPECT_EQ(r.out, path + ": Complete\n");
  std::string log;
  EXPECT_EQ(env_.OsslVerify(path, &log), 0) << log;
}

}  // namespace
}  // namespace corvane
