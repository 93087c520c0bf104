#include <gtest/gtest.h>

#include <filesystem>

#include "cert/cert_manager.h"
#include "crypto/signed_message.h"
#include "crypto/trust_store.h"
#include "fixtures/signing_environment.h"
#include "formats/pe/pe_image.h"
#include "sign/authenticode_verifier.h"
#include "sign/file_sign.h"

namespace corvane {
namespace {

class PeSigning : public ::testing::Test {
 protected:
  void Load(const test::TestSigner& signer) {
    manager_.LoadPfx(signer.pfxPath, signer.password);
    manager_.BuildChain();
    manager_.RecognizeOwnCa();
  }
  std::string Sign(const std::string& path, bool append = false, bool kernel = false,
                   const std::string& cross = "") {
    std::unique_ptr<CFileSign> signer = CreateFileSigner("peType");
    signer->SetKernelMode(kernel);
    if (!cross.empty()) signer->SetCrossCertFile(cross);
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

  test::SigningEnvironment env_;
  CertManager manager_;
};

TEST_F(PeSigning, EveryImageKindSignsTimestampedAndBothVerifiersAgree) {
  Load(env_.rootA());
  for (const char* image : {"console-x64.exe", "console-x86.exe", "library-x64.dll",
                            "library-x86.dll", "driver-x64.sys", "app-x64.efi"}) {
    SCOPED_TRACE(image);
    std::string path = env_.CopyImage(image);
    ASSERT_EQ(Sign(path), "succeed");
    VerifyReport report = Verify(path);
    EXPECT_TRUE(report.trusted) << (report.primary.problems.empty() ? ""
                                                                    : report.primary.problems[0]);
    EXPECT_TRUE(report.primary.timestamped);
    EXPECT_EQ(report.primary.digestAlgorithm, "sha256");
    std::string log;
    EXPECT_EQ(env_.OsslVerify(path, &log), 0) << log;
    EXPECT_EQ(pe::ComputeChecksum(path), pe::ReadLayout(path).checksum);
  }
}

}  // namespace
}  // namespace corvane
