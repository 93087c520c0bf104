#include "sign/file_sign.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <future>

#include "base/file_publish.h"
#include "base/paths.h"
#include "base/status.h"
#include "base/trace.h"
#include "cert/cert_manager.h"
#include "crypto/signed_message.h"
#include "formats/catalog/catalog_io.h"
#include "formats/file_reader.h"
#include "formats/msi/msi_package.h"
#include "formats/pe/pe_image.h"
#include "sign/authenticode_verifier.h"
#include "sign/cab_file_sign.h"
#include "sign/sign_type.h"
#include "sign/subject_format.h"
#include "sign/working_copy.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

// Below this size a file's digest is taken from the copy: a thread would cost more than the
// second read of a file the page cache holds.
constexpr std::uint64_t kDigestAheadFrom = 4u << 20;

// "Read-only" is the owner's missing write bit; clearing it keeps every other bit.
bool ClearReadOnly(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  if (st.st_mode & S_IWUSR) return true;
  return ::chmod(path.c_str(), (st.st_mode | S_IWUSR) & 07777) == 0;
}

}  // namespace

void CFileSign::SignFile(const std::string& source, const std::string& destination,
                         bool /*append*/) {
  std::error_code ec;
  if (!fs::exists(source, ec)) RaiseStatus(StatusCode::InvalidPath);
  // A directory, pipe, socket or device named like a program: refused before anything opens it.
  if (!fs::is_regular_file(source, ec)) RaiseStatus(StatusCode::NotRegularFile);
  if (!ClearReadOnly(source)) RaiseStatus(StatusCode::FileIsInUse);
  const std::string& target = destination.empty() ? source : destination;
  if (!fs::is_directory(DirectoryOf(target), ec)) RaiseStatus(StatusCode::InvalidPath);
  if (fs::exists(target, ec) && !fs::is_regular_file(target, ec))
    RaiseStatus(StatusCode::NotRegularFile);
  if (fs::exists(target, ec) && !ClearReadOnly(target)) RaiseStatus(StatusCode::FileIsInUse);
}

bool CFileSign::VerifyFile(const std::string& path) {
  std::error_code ec;
  if (!fs::exists(path, ec)) RaiseStatus(StatusCode::InvalidPath);
  return true;
}

void CFileSign::EmbedSignedData(const std::string& path, const std::string& data) {
  if (path.empty() || data.empty()) RaiseStatus(StatusCode::Undefined);
}

void MsFileSign::SignFile(const std::string& source, const std::string& destination, bool append) {
  CFileSign::SignFile(source, destination, append);
  if (!manager_ || !manager_->certificate()) RaiseStatus(StatusCode::Undefined);
  ownCaIssued_ = manager_->ownCaIssued();
  chineseNamedRoot_ = manager_->chineseNamedRoot();
  // Held from the first read of the file to the last write: a second signing of the same file
  // waits, then signs what this one wrote.
  const SigningTarget target(destination.empty() ? source : destination);
  const std::string sourcePath =
      destination.empty() || destination == source ? target.path() : source;
  std::unique_ptr<SubjectFormat> sourceFile;
  try {
    sourceFile = DetectSubjectFormat(sourcePath);
  } catch (const pe::PeDamagedError&) {
    RaiseStatus(StatusCode::FileIsDamaged);
  } catch (const std::exception&) {
    // Refused by the signing with the status of its own.
  }

  // A large PE image's or installer package's digest is taken from the source while the
  // working copy is made, on a second core: the copy then need not be read again, and a large
  // file costs little more than one pass of the hash.
  std::future<void> digest;
  const formats::FileStamp sourceStamp = formats::StampOf(sourcePath);
  if (sourceFile && sourceFile->DigestHoldsForACopy() && sourceStamp.size >= kDigestAheadFrom) {
    const EVP_MD* md = HashMd(ChosenHashAlgorithm());
    digest = std::async(std::launch::async, [md, &sourceFile] {
      try {
        sourceFile->Digest(md);
      } catch (const std::exception&) {
        // The signing itself reports whatever made this fail.
      }
    });
  }
  copyDigest_.reset();
  subject_.reset();
  std::optional<WorkingCopy> workingCopy;
  try {
    workingCopy.emplace(target, NeedsNamedWorkingCopy());
    workingCopy->Fill(sourcePath,
                      [&](const std::string& copy) { return FillWorkingCopy(sourcePath, copy); });
  } catch (const std::exception&) {
    if (digest.valid()) digest.wait();
    throw;
  }
  if (digest.valid()) digest.wait();
  try {
    SubjectFormat& copy = SubjectFor(workingCopy->path());
    if (digest.valid() && formats::StampOf(sourcePath) == sourceStamp &&
        formats::StampOf(copy.path()).size == sourceStamp.size)
      copy.TakeOverFrom(*sourceFile);
    if (copyDigest_) copy.TakeDigest(copyDigest_->first, std::move(copyDigest_->second));
  } catch (const std::exception&) {
    // The signing reports a copy that cannot be opened as its format.
  }
  sourceFile.reset();
  bool timestampOk = true;
  try {
    append_ = append;
    CreateSignature(workingCopy->path(), timestampOk);
    subject_.reset();
    workingCopy->Publish(target);
  } catch (const std::exception&) {
    subject_.reset();
    workingCopy.reset();
    throw;
  }
  // The file is signed and in place; only its timestamp is missing.
  if (!timestampOk) RaiseStatus(StatusCode::SignSucceedTimestampFailed);
}

SubjectFormat& MsFileSign::SubjectFor(const std::string& path) {
  if (!subject_ || subject_->path() != path) subject_ = OpenForSigning(path);
  return *subject_;
}

HashAlgorithm MsFileSign::ChosenHashAlgorithm() {
  if (!hashAlgorithm_ && sharedHashChoice_ && *sharedHashChoice_)
    hashAlgorithm_ = *sharedHashChoice_;
  if (!hashAlgorithm_) {
    SignerCertificate signer{manager_->certificate(), manager_->privateKey(), {}, false};
    hashAlgorithm_ = ChooseHashAlgorithm(signer);
    if (sharedHashChoice_) *sharedHashChoice_ = hashAlgorithm_;
  }
  return *hashAlgorithm_;
}

std::string MsFileSign::CreateSignature(const std::string& workingCopy, bool& timestampOk) {
  SubjectFormat& file = SubjectFor(workingCopy);
  std::string previous;
  try {
    previous = ReadEmbeddedSignature(file);
  } catch (const std::exception&) {
    append_ = false;
  }
  BeforeSigning(file);
  // Signature, timestamp, certificates and nesting are put together here; the file is written
  // once, with the final signature.
  SignerCertificate signer{manager_->certificate(), manager_->privateKey(), {}, false};
  std::string blob = PlatformSign(signer, file, timestampOk, protocol_, ChosenHashAlgorithm(),
                                  SignatureWrite::ByEmbedder);
  platformSignatureLength_ = static_cast<std::uint32_t>(blob.size());
  Trace(("MssignApiSigLen:" + std::to_string(blob.size())).c_str());
  blob = AddCertificates(blob, ownCaIssued_, chineseNamedRoot_, manager_->chain());
  if (kernelMode_) blob = AddKernelCrossCertificates(blob, crossCertFile_, chineseNamedRoot_);
  if (append_) {
    try {
      blob = NestSignature(previous, blob);
    } catch (const CryptoError&) {
      RaiseStatus(StatusCode::Undefined);
    }
  }
  EmbedFinalSignature(file, blob);
  return blob;
}

bool MsFileSign::VerifyFile(const std::string& path) { return Verify(path).trusted; }

VerifyReport MsFileSign::Verify(const std::string& path) {
  CFileSign::VerifyFile(path);
  return VerifyTrust(path);
}

void CPeFileSign::EmbedSignedData(const std::string& path, const std::string& data) {
  CFileSign::EmbedSignedData(path, data);
  try {
    SubjectFor(path).WriteSignature(data);
  } catch (const std::exception&) {
    // Publishing a copy whose table was half rewritten would report an unsigned file as signed.
    RaiseStatus("%s, %s", "CPeFileSign::EmbedSignedData", StatusCodeText(StatusCode::Undefined));
  }
}

void MsiFileSign::EmbedSignedData(const std::string& path, const std::string& data) {
  CFileSign::EmbedSignedData(path, data);
  try {
    // The stream ends with the signature even when it held a longer one before.
    msi::ReplaceSignature(path, data);
  } catch (const std::exception&) {
    RaiseStatus("%s, %s", "MsiFileSign::EmbedSignedData", StatusCodeText(StatusCode::Undefined));
  }
}

void MsiFileSign::EmbedFinalSignature(SubjectFormat& file, const std::string& data) {
  CFileSign::EmbedSignedData(file.path(), data);
  try {
    // The signing left the package alone: the stream is made here, with the final signature.
    file.WriteSignature(data);
  } catch (const std::exception&) {
    RaiseStatus("%s, %s", "MsiFileSign::EmbedSignedData", StatusCodeText(StatusCode::Undefined));
  }
}

void MsiFileSign::BeforeSigning(SubjectFormat& file) {
  if (append_) return;
  try {
    file.RemoveSignatureCompanions();
  } catch (const std::exception&) {
    // A package that cannot be edited is refused by the signing that follows.
    file.FileChanged();
  }
}

void CatFileSign::EmbedSignedData(const std::string& path, const std::string& data) {
  CFileSign::EmbedSignedData(path, data);
  try {
    catalog::WriteCatalogFile(path, data);
  } catch (const std::exception&) {
    // Reporting success here would publish a catalog without its chain or nested signature.
    RaiseStatus(StatusCode::Undefined);
  }
}

std::unique_ptr<CFileSign> CreateFileSigner(std::string_view signType) {
  if (signType == kPeType || signType == kPeKernelType || signType == kSignerSignType)
    return std::make_unique<CPeFileSign>();
  if (signType == kMsiType) return std::make_unique<MsiFileSign>();
  if (signType == kCatType) return std::make_unique<CatFileSign>();
  if (signType == kCabType) return std::make_unique<CabFileSign>();
  return nullptr;
}

}  // namespace corvane
