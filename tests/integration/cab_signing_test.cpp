#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

#include "cert/cert_manager.h"
#include "crypto/signed_message.h"
#include "crypto/trust_store.h"
#include "fixtures/cabinets.h"
#include "fixtures/run_command.h"
#include "fixtures/signing_environment.h"
#include "formats/cab/cab_compress.h"
#include "formats/cab/cab_image.h"
#include "sign/authenticode_verifier.h"
#include "sign/file_sign.h"

namespace corvane {
namespace {

using test::ReadFileBytes;
using test::WriteFileBytes;

class CabSigning : public ::testing::Test {
 protected:
  void Load(const test::TestSigner& signer) {
    manager_.LoadPfx(signer.pfxPath, signer.password);
    manager_.BuildChain();
    manager_.RecognizeOwnCa();
  }
  std::string Sign(const std::string& path, bool append = false,
                   TimestampProtocol protocol = TimestampProtocol::Authenticode) {
    std::unique_ptr<CFileSign> signer = CreateFileSigner("cabType");
    EXPECT_TRUE(signer);
    signer->SetCertManager(&manager_);
    signer->SetTimestampProtocol(protocol);
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
  // Both verifiers accept the file, and cabextract finds its members intact and equal to
  // `members` (name -> content).
  void ExpectGood(const std::string& path, const std::map<std::string, std::string>& members,
                  int signatures = 1) {
    VerifyReport report = Verify(path);
    EXPECT_TRUE(report.trusted) << (report.primary.problems.empty() ? ""
                                                                    : report.primary.problems[0]);
    EXPECT_TRUE(report.primary.timestamped);
    EXPECT_EQ(report.nested.size(), static_cast<std::size_t>(signatures - 1));
    std::string log;
    EXPECT_EQ(env_.OsslVerify(path, &log), 0) << log;
    EXPECT_NE(log.find("Number of verified signatures: " + std::to_string(signatures)),
              std::string::npos)
        << log;
    EXPECT_EQ(test::ExtractCabinet(path, env_.dir() / "out"), members);
  }

  test::SigningEnvironment env_;
  CertManager manager_;
};

// Cabinets from the independent writer and an update package, each with the members it holds.
struct Source {
  const char* name;
  const char* fileName;
  std::function<std::map<std::string, std::string>(const test::TempDir&, const std::string&)> make;
};

std::map<std::string, std::string> GcabOf(const test::TempDir& dir, const std::string& cab,
                                          const std::map<std::string, std::string>& members,
                                          bool compress) {
  std::vector<std::string> paths;
  std::filesystem::create_directory(dir / "in");
  for (const auto& [name, content] : members) {
    paths.push_back(dir / ("in/" + name));
    WriteFileBytes(paths.back(), content);
  }
  test::Gcab(cab, paths, compress);
  return members;
}

const Source kSources[] = {
    {"our_writer", "made.cab",
     [](const test::TempDir& dir, const std::string& cab) {
       std::map<std::string, std::string> members{
           {"setup.ini", "[setup]\n"}, {"Grüße-データ.bin", test::PatternBytes(90000, 2)}};
       Cabinet::CCompress compressor;
       EXPECT_TRUE(compressor.StartCabinet(cab));
       for (const auto& [name, content] : members) {
         WriteFileBytes(dir / name, content);
         EXPECT_TRUE(compressor.AddEntry(dir / name, name)) << compressor.lastError();
       }
       EXPECT_TRUE(compressor.CloseCabinet());
       return members;
     }},
    {"gcab_mszip", "tool.cab",
     [](const test::TempDir& dir, const std::string& cab) {
       return GcabOf(dir, cab,
                     {{"readme.txt", "read me\n"},
                      {"data.bin", test::PatternBytes(200000, 7)},
                      {"Grüße-データ.txt", "non-ASCII member name\n"}},
                     true);
     }},
    {"gcab_stored", "stored.cab",
     [](const test::TempDir& dir, const std::string& cab) {
       return GcabOf(dir, cab, {{"data.bin", test::PatternBytes(70000, 3)}}, false);
     }},
    {"update_package", "Windows-KB123456-x64.msu",
     [](const test::TempDir& dir, const std::string& msu) {
       // An update package: a cabinet holding the update's own cabinet and its description.
       std::filesystem::create_directory(dir / "inner");
       WriteFileBytes(dir / "inner/update.mum", "<assembly/>\n");
       test::Gcab(dir / "Windows-KB123456-x64.cab", {dir / "inner/update.mum"}, true);
       const std::string xml =
           "<?xml version=\"1.0\"?><unattend><servicing><package action=\"install\"/>"
           "</servicing></unattend>\n";
       WriteFileBytes(dir / "Windows-KB123456-x64.xml", xml);
       test::Gcab(msu, {dir / "Windows-KB123456-x64.cab", dir / "Windows-KB123456-x64.xml"}, true);
       return std::map<std::string, std::string>{
           {"Windows-KB123456-x64.cab", ReadFileBytes(dir / "Windows-KB123456-x64.cab")},
           {"Windows-KB123456-x64.xml", xml}};
     }},
};

class CabSources : public CabSigning, public ::testing::WithParamInterface<Source> {};

TEST_P(CabSources, SignedPlainAppendedTwiceAndAgainAcceptedByBothVerifiers) {
  test::TempDir work;
  const std::string path = env_.dir() / GetParam().fileName;
  const std::map<std::string, std::string> members = GetParam().make(work, path);

  Load(env_.sha1());
  ASSERT_EQ(Sign(path, /*append=*/true), "succeed") << "an unsigned cabinet signs plainly";
  ExpectGood(path, members);
  EXPECT_EQ(Verify(path).primary.digestAlgorithm, "sha1");

  Load(env_.rootA());
  ASSERT_EQ(Sign(path, true), "succeed");
  Load(env_.rootB());
  ASSERT_EQ(Sign(path, true, TimestampProtocol::Rfc3161), "succeed");
  ExpectGood(path, members, 3);
  VerifyReport report = Verify(path);
  ASSERT_EQ(report.nested.size(), 2u);
  for (const SignatureReport& nested : report.nested) {
    EXPECT_TRUE(nested.valid);
    EXPECT_EQ(nested.digestAlgorithm, "sha256");
    EXPECT_TRUE(nested.timestamped);
  }
  EXPECT_TRUE(report.nested[1].rfc3161);

  // The size field always ends the file exactly, and the padding is zeros.
  const cab::CabLayout layout = cab::ReadLayout(path);
  EXPECT_EQ(layout.signatureOffset + std::uint64_t{layout.signatureAreaSize}, layout.fileSize);
  const std::string bytes = ReadFileBytes(path);
  const std::size_t signatureEnd = layout.signatureOffset + cab::ReadSignature(path).size();
  EXPECT_EQ(bytes.substr(signatureEnd), std::string(bytes.size() - signatureEnd, '\0'));

  // Signing without append drops the nested signatures.
  ASSERT_EQ(Sign(path, false), "succeed");
  ExpectGood(path, members);

  // A tampered cabinet no longer verifies.
  std::string tampered = ReadFileBytes(path);
  tampered[layout.signatureOffset - 1] ^= 0x01;
  WriteFileBytes(path, tampered);
  EXPECT_FALSE(Verify(path).trusted);
  EXPECT_NE(env_.OsslVerify(path), 0);
  for (const auto& entry : std::filesystem::directory_iterator(env_.dir().path()))
    EXPECT_EQ(entry.path().filename().string().find(".signing-"), std::string::npos)
        << "working copy left: " << entry.path();
}

INSTANTIATE_TEST_SUITE_P(Cabinets, CabSources, ::testing::ValuesIn(kSources),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(CabSigning, LargerThanOneChunkKeepsEveryByteBeforeTheSignature) {
  test::TempDir work;
  const std::string zeros = work / "zeros.bin", path = env_.dir() / "big.cab";
  WriteFileBytes(zeros, "");
  std::filesystem::resize_file(zeros, 70u << 20);
  test::Gcab(path, {zeros}, false);
  Load(env_.rootA());
  ASSERT_EQ(Sign(path), "succeed");
  const std::string signedBytes = ReadFileBytes(path);
  EXPECT_EQ(env_.OsslVerify(path), 0);

  // The same cabinet prepared by the format module carries the same bytes up to the signature.
  std::filesystem::copy_file(path, work / "check.cab");
  cab::PrepareForSigning(work / "check.cab");
  const std::string prepared = ReadFileBytes(work / "check.cab");
  ASSERT_LT(prepared.size(), signedBytes.size());
  EXPECT_TRUE(signedBytes.compare(0, 48, prepared, 0, 48) == 0);
  EXPECT_TRUE(signedBytes.compare(52, prepared.size() - 52, prepared, 52) == 0);
}

// Files with a cabinet's extension that cannot be signed as one: the file stays as it was.
TEST_F(CabSigning, RefusedCabinetsStayByteForByte) {
  Load(env_.rootA());
  const std::string probe(reinterpret_cast<const char*>(cab::kProbeCabinet),
                          sizeof cab::kProbeCabinet);
  struct Case {
    const char* name;
    std::string bytes;
    const char* status;
  };
  std::string continuesSet = probe;
  continuesSet[34] = 1;  // the second cabinet of a set
  std::string foreignReserve = probe.substr(0, 36) + std::string("\x08\x00\x00\x00", 4) +
                               std::string(8, 'r') + probe.substr(36);
  foreignReserve[30] = 0x04;
  const Case cases[] = {
      {"text.cab", "not a cabinet at all", "file type is not supported"},
      {"empty.msu", "", "file type is not supported"},
      {"truncated.cab", probe.substr(0, 60), "file type is not supported"},
      {"set.cab", continuesSet, "file type is not supported"},
      {"reserve.cab", foreignReserve, "file type is not supported"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = env_.dir() / c.name;
    WriteFileBytes(path, c.bytes);
    EXPECT_EQ(Sign(path), c.status);
    EXPECT_EQ(ReadFileBytes(path), c.bytes);
  }
  EXPECT_EQ(Sign(env_.dir() / "missing.cab"), "invalid path");
}

}  // namespace
}  // namespace corvane
