// A file opened as its format keeps the digests it learned while only it changes the file.
#include "sign/subject_format.h"

#include <gtest/gtest.h>

#include "fixtures/temp_dir.h"
#include "formats/cab/cab_image.h"

namespace corvane {
namespace {

TEST(SubjectFormat, KeepsAGivenDigestThroughItsOwnEditsUntilTheFileChangesOtherwise) {
  test::TempDir dir;
  const std::string path = dir / "probe.cab";
  test::WriteFileBytes(path, std::string(reinterpret_cast<const char*>(cab::kProbeCabinet),
                                         sizeof cab::kProbeCabinet));
  std::unique_ptr<SubjectFormat> file = DetectSubjectFormat(path);
  ASSERT_TRUE(file);
  const std::string given(32, 'N');
  file->TakeDigest(EVP_sha256(), given);
  file->Prepare();
  EXPECT_EQ(file->Digest(EVP_sha256()), given);
  file->WriteSignature(std::string("\x30\x03\x02\x01\x07", 5));
  EXPECT_EQ(file->Digest(EVP_sha256()), given);
  EXPECT_EQ(file->Digest(EVP_sha1()), cab::AuthenticodeDigest(path, EVP_sha1()));
  file->FileChanged();
  EXPECT_EQ(file->Digest(EVP_sha256()), cab::AuthenticodeDigest(path, EVP_sha256()));
}

}  // namespace
}  // namespace corvane
