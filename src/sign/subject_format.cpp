#include "sign/subject_format.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "crypto/signed_message.h"
#include "formats/cab/cab_image.h"
#include "formats/catalog/catalog_file.h"
#include "formats/catalog/catalog_io.h"
#include "formats/msi/msi_package.h"
#include "formats/pe/pe_image.h"
#include "formats/pe/pe_page_hashes.h"

namespace corvane {
namespace {

using catalog::ReadCatalogFile;

std::string DigestBytes(const EVP_MD* md, const std::string& data) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(data.data(), data.size(), out, &size, md, nullptr);
  return std::string(reinterpret_cast<char*>(out), size);
}

std::atomic<bool> g_pageHashes{false};

class PeSubject : public SubjectFormat {
 public:
  SubjectKind kind() const override { return SubjectKind::PeImage; }
  std::string SignedContent(const std::string& path, HashAlgorithm algorithm) const override {
    const std::string digest = Digest(path, HashMd(algorithm));
    if (!PageHashesWanted()) return BuildIndirectData(kind(), algorithm, digest);
    return BuildIndirectData(kind(), algorithm, digest,
                             pe::PageHashTable(path, HashMd(PageHashDigest(algorithm))));
  }
  bool SignatureWrittenByEmbedder() const override { return true; }
  void Prepare(const std::string& path) const override { pe::AlignForCertificateTable(path); }
  std::string Digest(const std::string& path, const EVP_MD* md) const override {
    return pe::AuthenticodeDigest(path, md);
  }
  std::string ReadSignature(const std::string& path) const override {
    return pe::ReadSignature(path);
  }
  void WriteSignature(const std::string& path, const std::string& der) const override {
    pe::ReplaceSignature(path, der);
  }
  bool RemoveSignature(const std::string& path) const override {
    pe::RemoveSignatures(path);
    return true;
  }
};

class CabSubject : public SubjectFormat {
 public:
  SubjectKind kind() const override { return SubjectKind::Cabinet; }
  void Prepare(const std::string& path) const override { cab::PrepareForSigning(path); }
  std::string Digest(const std::string& path, const EVP_MD* md) const override {
    return cab::AuthenticodeDigest(path, md);
  }
  std::string ReadSignature(const std::string& path) const override {
    return cab::ReadSignature(path);
  }
  void WriteSignature(const std::string& path, const std::string& der) const override {
    cab::PrepareForSigning(path);
    cab::WriteSignature(path, der);
  }
  bool RemoveSignature(const std::string& path) const override {
    cab::PrepareForSigning(path);  // the signature area goes, the empty reserve stays
    return true;
  }
};

// Installer packages: nothing to prepare, the signature stream is made when it is written.
class MsiSubject : public SubjectFormat {
 public:
  SubjectKind kind() const override { return SubjectKind::InstallerPackage; }
  bool SignatureWrittenByEmbedder() const override { return true; }
  void Prepare(const std::string& /*path*/) const override {}
  std::string Digest(const std::string& path, const EVP_MD* md) const override {
    return msi::AuthenticodeDigest(path, md);
  }
  std::string ReadSignature(const std::string& path) const override {
    return msi::ReadSignature(path);
  }
  void WriteSignature(const std::string& path, const std::string& der) const override {
    msi::WriteSignature(path, der);
  }
  bool RemoveSignature(const std::string& path) const override {
    msi::RemoveSignature(path);
    return true;
  }
};

// A catalog is its signed message: the signature is the whole file, and what it signs is the
// certificate trust list inside.
class CatalogSubject : public SubjectFormat {
 public:
  SubjectKind kind() const override { return SubjectKind::Catalog; }
  bool SignsIndirectData() const override { return false; }
  void Prepare(const std::string& path) const override { catalog::CtlOf(ReadCatalogFile(path)); }
  std::string Digest(const std::string& path, const EVP_MD* md) const override {
    return DigestBytes(md, IndirectDataSignedBytes(catalog::CtlOf(ReadCatalogFile(path))));
  }
  const char* ContentType() const override { return catalog::kOidCtl; }
  std::string SignedContent(const std::string& path, HashAlgorithm /*algorithm*/) const override {
    return catalog::CtlOf(ReadCatalogFile(path));
  }
  std::string ReadSignature(const std::string& path) const override {
    std::string bytes = ReadCatalogFile(path);
    catalog::CtlOf(bytes);
    try {
      if (SignedMessage::Decode(bytes).SignerCount() > 0) return bytes;
    } catch (const std::exception&) {
      // An unsigned catalog: a SignedData without signers.
    }
    return {};
  }
  void WriteSignature(const std::string& path, const std::string& der) const override {
    catalog::WriteCatalogFile(path, der);
  }
  bool RemoveSignature(const std::string& /*path*/) const override { return false; }
};

bool StartsWith(const std::string& path, const char* magic) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  char head[8] = {};
  std::size_t n = std::fread(head, 1, std::strlen(magic), file);
  std::fclose(file);
  return n == std::strlen(magic) && std::memcmp(head, magic, n) == 0;
}

}  // namespace

void SetPageHashes(bool on) { g_pageHashes = on; }
bool PageHashesWanted() { return g_pageHashes; }

std::unique_ptr<SubjectFormat> DetectSubjectFormat(const std::string& path) {
  if (pe::LooksLikePe(path)) {
    pe::ReadLayout(path);  // a damaged image raises here
    return std::make_unique<PeSubject>();
  }
  if (StartsWith(path, "MSCF")) {
    cab::ReadLayout(path);
    return std::make_unique<CabSubject>();
  }
  if (msi::LooksLikePackage(path)) {
    msi::CheckPackage(path);
    return std::make_unique<MsiSubject>();
  }
  if (catalog::LooksLikeCatalogFile(path)) {
    catalog::CtlOf(ReadCatalogFile(path));
    return std::make_unique<CatalogSubject>();
  }
  return nullptr;
}

}  // namespace corvane
