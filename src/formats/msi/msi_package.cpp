#include "formats/msi/msi_package.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "crypto/openssl_ptr.h"
#include "formats/cfb/compound_file.h"

namespace corvane::msi {
namespace {

using cfb::CompoundFile;
using cfb::DirectoryEntry;
using cfb::EntryType;

// The names as their UTF-16LE bytes, compared with memcmp; on a common prefix the shorter
// name (whose terminating NUL meets a character) sorts first.
bool HashOrderLess(const std::u16string& a, const std::u16string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char la = static_cast<unsigned char>(a[i]),
                        lb = static_cast<unsigned char>(b[i]);
    if (la != lb) return la < lb;
    const unsigned char ha = static_cast<unsigned char>(a[i] >> 8),
                        hb = static_cast<unsigned char>(b[i] >> 8);
    if (ha != hb) return ha < hb;
  }
  return a.size() < b.size();
}

void HashStorage(const CompoundFile& file, std::uint32_t storage, EVP_MD_CTX* ctx) {
  std::vector<std::uint32_t> kids = file.Children(storage);
  std::sort(kids.begin(), kids.end(), [&](std::uint32_t a, std::uint32_t b) {
    return HashOrderLess(file.entry(a).name, file.entry(b).name);
  });
  for (std::uint32_t id : kids) {
    const DirectoryEntry& e = file.entry(id);
    if (storage == cfb::kRootEntry && (e.name == kSignatureStream || e.name == kSignatureExStream))
      continue;
    if (e.type == EntryType::Stream)
      file.ReadStream(id, [&](const unsigned char* data, std::size_t length) {
        EVP_DigestUpdate(ctx, data, length);
      });
    else
      HashStorage(file, id, ctx);
  }
  EVP_DigestUpdate(ctx, file.entry(storage).clsid.data(), 16);
}

std::string ReadRootStream(const CompoundFile& file, const std::u16string& name) {
  const std::uint32_t id = file.Find(cfb::kRootEntry, name);
  if (id == cfb::kNoStream || file.entry(id).type != EntryType::Stream) return {};
  return file.ReadStreamBytes(id, kMaxSignatureSize);
}

}  // namespace

const std::u16string kSignatureStream = u"\u0005DigitalSignature";
const std::u16string kSignatureExStream = u"\u0005MsiDigitalSignatureEx";

bool LooksLikePackage(const std::string& path) { return cfb::LooksLikeCompoundFile(path); }

void CheckPackage(const std::string& path) { CompoundFile file(path); }

Package::Package(std::string path)
    : path_(std::move(path)), file_(std::make_unique<CompoundFile>(path_)) {}

Package::~Package() = default;

CompoundFile& Package::Editable() {
  if (!writable_) {
    file_ = std::make_unique<CompoundFile>(path_, /*writable=*/true);
    writable_ = true;
  }
  return *file_;
}

std::string Package::AuthenticodeDigest(const EVP_MD* md) const {
  EvpMdCtxPtr ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1)
    throw std::runtime_error("cannot start the digest");
  const std::string ex = ReadRootStream(*file_, kSignatureExStream);
  EVP_DigestUpdate(ctx.get(), ex.data(), ex.size());
  HashStorage(*file_, cfb::kRootEntry, ctx.get());
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_DigestFinal_ex(ctx.get(), out, &size);
  return std::string(reinterpret_cast<char*>(out), size);
}

std::string Package::ReadSignature() const { return ReadRootStream(*file_, kSignatureStream); }

void Package::WriteSignature(const std::string& der) {
  Editable().WriteRootStream(kSignatureStream, der);
}

void Package::ReplaceSignature(const std::string& der) {
  Editable().ReplaceRootStream(kSignatureStream, der);
}

bool Package::RemoveExtendedSignature() { return Editable().RemoveRootStream(kSignatureExStream); }

bool Package::RemoveSignature() {
  CompoundFile& file = Editable();
  const bool removed = file.RemoveRootStream(kSignatureStream);
  file.RemoveRootStream(kSignatureExStream);
  return removed;
}

std::string AuthenticodeDigest(const std::string& path, const EVP_MD* md) {
  return Package(path).AuthenticodeDigest(md);
}

std::string ReadSignature(const std::string& path) { return Package(path).ReadSignature(); }

void WriteSignature(const std::string& path, const std::string& der) {
  CompoundFile(path, /*writable=*/true).WriteRootStream(kSignatureStream, der);
}

void ReplaceSignature(const std::string& path, const std::string& der) {
  CompoundFile(path, /*writable=*/true).ReplaceRootStream(kSignatureStream, der);
}

bool RemoveExtendedSignature(const std::string& path) {
  return CompoundFile(path, /*writable=*/true).RemoveRootStream(kSignatureExStream);
}

bool RemoveSignature(const std::string& path) {
  CompoundFile file(path, /*writable=*/true);
  const bool removed = file.RemoveRootStream(kSignatureStream);
  file.RemoveRootStream(kSignatureExStream);
  return removed;
}

}  // namespace corvane::msi
