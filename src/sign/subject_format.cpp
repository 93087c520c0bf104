#include "sign/subject_format.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <typeinfo>
#include <vector>

#include "crypto/openssl_ptr.h"
#include "crypto/signed_message.h"
#include "formats/cab/cab_image.h"
#include "formats/catalog/catalog_file.h"
#include "formats/catalog/catalog_io.h"
#include "formats/file_reader.h"
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
  explicit PeSubject(const std::string& path) : SubjectFormat(path), image_(path) {}
  std::string IndirectDataValue(HashAlgorithm algorithm) const override {
    return PeImageDataValue(algorithm);
  }
  const char* MemberSubjectType() const override { return catalog::kSubjectPeImage; }
  void TakeOverFrom(const SubjectFormat& source) override {
    if (const auto* pe = dynamic_cast<const PeSubject*>(&source))
      image_ = pe::Image(path(), pe->image_);
  }
  void FileChanged() override {
    SubjectFormat::FileChanged();
    image_ = pe::Image(path());
  }
  bool DigestHoldsForACopy() const override { return true; }
  std::string SignedContent(HashAlgorithm algorithm) override {
    const std::string digest = Digest(HashMd(algorithm));
    if (!PageHashesWanted())
      return BuildIndirectData(PeImageDataValue(algorithm), algorithm, digest);
    return BuildIndirectData(
        PeImageDataValue(algorithm, pe::PageHashTable(path(), HashMd(PageHashDigest(algorithm)))),
        algorithm, digest);
  }
  // Padding changes the digest; the image extends its digest state by the padding.
  void Prepare() override {
    image_.AlignForCertificateTable();
    ForgetDigests();
  }
  std::string ReadSignature() const override { return image_.ReadSignature(); }
  void WriteSignature(const std::string& der) override { image_.ReplaceSignature(der); }
  bool RemoveSignature() override {
    image_.RemoveSignatures();
    return true;
  }

 protected:
  std::string ComputeDigest(const EVP_MD* md) override { return image_.AuthenticodeDigest(md); }

 private:
  pe::Image image_;
};

// None of a cabinet's own edits (the reserve, the signature area) touches a digested byte.
class CabSubject : public SubjectFormat {
 public:
  explicit CabSubject(const std::string& path) : SubjectFormat(path) { cab::ReadLayout(path); }
  bool RewritesByRenaming() const override { return true; }
  const char* MemberSubjectType() const override { return catalog::kSubjectCabinet; }
  // A catalog lists a cabinet without the signature reserve by all its bytes but the checksum.
  std::string MemberDigest(const EVP_MD* md) override {
    return cab::ReadLayout(path()).signatureReserve ? Digest(md)
                                                    : cab::UnreservedDigest(path(), md);
  }
  void Prepare() override { cab::PrepareForSigning(path()); }
  std::string ReadSignature() const override { return cab::ReadSignature(path()); }
  void WriteSignature(const std::string& der) override {
    cab::PrepareForSigning(path());
    cab::WriteSignature(path(), der);
  }
  bool RemoveSignature() override {
    cab::PrepareForSigning(path());  // the signature area goes, the empty reserve stays
    return true;
  }

 protected:
  std::string ComputeDigest(const EVP_MD* md) override {
    return cab::AuthenticodeDigest(path(), md);
  }
};

// Installer packages: nothing to prepare, the signature stream is made when it is written.
// The signature streams are not digested; "MsiDigitalSignatureEx" is, and removing the
// signature takes it along.
class MsiSubject : public SubjectFormat {
 public:
  explicit MsiSubject(const std::string& path) : SubjectFormat(path), package_(path) {}
  std::string IndirectDataValue(HashAlgorithm /*algorithm*/) const override {
    return SipInfoValue();
  }
  const char* MemberSubjectType() const override { return catalog::kSubjectInstallerPackage; }
  bool DigestHoldsForACopy() const override { return true; }
  // The structure read at the start no longer describes the file.
  void FileChanged() override {
    SubjectFormat::FileChanged();
    package_.emplace(path());
  }
  void Prepare() override {}
  std::string ReadSignature() const override { return package_->ReadSignature(); }
  void WriteSignature(const std::string& der) override { package_->WriteSignature(der); }
  bool RemoveSignatureCompanions() override {
    if (!package_->RemoveExtendedSignature()) return false;
    SubjectFormat::FileChanged();  // the pre-hash is digested
    return true;
  }
  bool RemoveSignature() override {
    package_->RemoveSignature();
    SubjectFormat::FileChanged();  // the pre-hash went with it
    return true;
  }

 protected:
  std::string ComputeDigest(const EVP_MD* md) override { return package_->AuthenticodeDigest(md); }

 private:
  std::optional<msi::Package> package_;
};

// A catalog is its signed message: the signature is the whole file, and what it signs is the
// certificate trust list inside.
class CatalogSubject : public SubjectFormat {
 public:
  explicit CatalogSubject(const std::string& path) : SubjectFormat(path) {
    catalog::CtlOf(ReadCatalogFile(path));
  }
  bool SignsIndirectData() const override { return false; }
  void Prepare() override { catalog::CtlOf(ReadCatalogFile(path())); }
  const char* ContentType() const override { return catalog::kOidCtl; }
  std::string SignedContent(HashAlgorithm /*algorithm*/) override {
    return catalog::CtlOf(ReadCatalogFile(path()));
  }
  std::string ReadSignature() const override {
    std::string bytes = ReadCatalogFile(path());
    catalog::CtlOf(bytes);
    try {
      if (SignedMessage::Decode(bytes).SignerCount() > 0) return bytes;
    } catch (const std::exception&) {
      // An unsigned catalog: a SignedData without signers.
    }
    return {};
  }
  void WriteSignature(const std::string& der) override { catalog::WriteCatalogFile(path(), der); }
  bool RemoveSignature() override { return false; }

 protected:
  std::string ComputeDigest(const EVP_MD* md) override {
    return DigestBytes(md, IndirectDataSignedBytes(catalog::CtlOf(ReadCatalogFile(path()))));
  }
};

// Any file, as a catalog lists it: digested over all its bytes, never signed itself.
class FlatSubject : public SubjectFormat {
 public:
  using SubjectFormat::SubjectFormat;
  void Prepare() override {}
  std::string ReadSignature() const override { return {}; }
  void WriteSignature(const std::string& /*der*/) override {
    throw std::logic_error("a flat file carries no signature");
  }
  bool RemoveSignature() override { return false; }

 protected:
  std::string ComputeDigest(const EVP_MD* md) override {
    formats::FileReader file(path());
    EvpMdCtxPtr ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1)
      throw std::runtime_error("digest unavailable");
    std::vector<unsigned char> buffer(std::min<std::uint64_t>(file.size(), 1 << 20));
    for (std::uint64_t at = 0; at < file.size();) {
      const auto n =
          static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), file.size() - at));
      file.ReadAt(at, buffer.data(), n);
      EVP_DigestUpdate(ctx.get(), buffer.data(), n);
      at += n;
    }
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(ctx.get(), out, &size) != 1) throw std::runtime_error("digest failed");
    return std::string(reinterpret_cast<char*>(out), size);
  }
};

bool StartsWith(const std::string& path, const char* magic) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  char head[8] = {};
  std::size_t n = std::fread(head, 1, std::strlen(magic), file);
  std::fclose(file);
  return n == std::strlen(magic) && std::memcmp(head, magic, n) == 0;
}

// The formats a catalog lists by their own digest; null for any other file. A damaged image
// raises.
std::unique_ptr<SubjectFormat> OpenPackageFormat(const std::string& path) {
  if (pe::LooksLikePe(path)) return std::make_unique<PeSubject>(path);
  if (StartsWith(path, "MSCF")) return std::make_unique<CabSubject>(path);
  if (msi::LooksLikePackage(path)) return std::make_unique<MsiSubject>(path);
  return nullptr;
}

}  // namespace

void SetPageHashes(bool on) { g_pageHashes = on; }
bool PageHashesWanted() { return g_pageHashes; }

std::string SubjectFormat::Digest(const EVP_MD* md) {
  const std::string_view name = EVP_MD_get0_name(md);
  if (auto known = digests_.find(name); known != digests_.end()) return known->second;
  std::string digest = ComputeDigest(md);
  digests_.emplace(name, digest);
  return digest;
}

void SubjectFormat::TakeDigest(const EVP_MD* md, std::string digest) {
  digests_.insert_or_assign(EVP_MD_get0_name(md), std::move(digest));
}

void SubjectFormat::TakeOverFrom(const SubjectFormat& source) {
  if (typeid(source) == typeid(*this)) digests_ = source.digests_;
}

const char* SubjectFormat::MemberSubjectType() const { return catalog::kSubjectFlatImage; }

std::unique_ptr<SubjectFormat> DetectSubjectFormat(const std::string& path) {
  if (std::unique_ptr<SubjectFormat> file = OpenPackageFormat(path)) return file;
  if (catalog::LooksLikeCatalogFile(path)) return std::make_unique<CatalogSubject>(path);
  return nullptr;
}

std::unique_ptr<SubjectFormat> OpenCatalogMember(const std::string& path) {
  if (std::unique_ptr<SubjectFormat> file = OpenPackageFormat(path)) return file;
  return std::make_unique<FlatSubject>(path);
}

}  // namespace corvane
