#include "sign/file_sign.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <future>

#include "app/file_publish.h"
#include "app/status.h"
#include "app/trace.h"
#include "cert/cert_manager.h"
#include "crypto/signed_message.h"
#include "formats/catalog/catalog_io.h"
#include "formats/file_reader.h"
#include "formats/msi/msi_package.h"
#include "formats/pe/pe_image.h"
#include "sign/authenticode_verifier.h"
#include "sign/cab_file_sign.h"
#include "sign/sign_type.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

// "Read-only" is the owner's missing write bit; clearing it keeps every other bit.
bool ClearReadOnly(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  if (st.st_mode & S_IWUSR) return true;
  return ::chmod(path.c_str(), (st.st_mode | S_IWUSR) & 07777) == 0;
}

std::string DirectoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The working copy: a hidden file beside the destination, so that publishing it is a rename
// on the same file system. Copies the source into it (`fill` may write it instead); raises
// "undefined" on failure.
std::string MakeWorkingCopy(const std::string& source, const std::string& destination,
                            const std::function<bool(const std::string&)>& fill) {
  std::string pattern =
      DirectoryOf(destination) + "/." + FileNameOf(destination) + ".signing-XXXXXX";
  int out = ::mkstemp(pattern.data());
  if (out < 0) RaiseStatus(StatusCode::Undefined);
  int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  bool filled = false;
  try {
    filled = in >= 0 && fill(pattern);
  } catch (const std::exception&) {
    ::close(out);
    if (in >= 0) ::close(in);
    ::unlink(pattern.c_str());
    RaiseStatus(StatusCode::Undefined);
  }
  bool ok = in >= 0 && (filled || CopyContents(in, out));
  struct stat st {};
  if (ok && ::fstat(in, &st) == 0)
    ok = ::chmod(pattern.c_str(), (st.st_mode | S_IWUSR) & 07777) == 0;
  if (in >= 0) ::close(in);
  if (::close(out) != 0) ok = false;
  if (!ok) {
    ::unlink(pattern.c_str());
    RaiseStatus(StatusCode::Undefined);
  }
  return pattern;
}

}  // namespace

void CFileSign::SignFile(const std::string& source, const std::string& destination,
                         bool /*append*/) {
  std::error_code ec;
  if (!fs::exists(source, ec)) RaiseStatus(StatusCode::InvalidPath);
  if (!ClearReadOnly(source)) RaiseStatus(StatusCode::FileIsInUse);
  const std::string& target = destination.empty() ? source : destination;
  if (!fs::is_directory(DirectoryOf(target), ec)) RaiseStatus(StatusCode::InvalidPath);
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
  const std::string target = destination.empty() ? source : destination;

  // A PE image's or installer package's digest is taken from the source while the working
  // copy is made, on a second core: the copy then need not be read again, and a large file
  // costs little more than one pass of the hash.
  std::future<void> digest;
  formats::FileStamp sourceStamp = pe::StampOf(source);
  const bool peImage = pe::LooksLikePe(source);
  const bool package = !peImage && msi::LooksLikePackage(source);
  if (package) {
    const EVP_MD* md = HashMd(ChosenHashAlgorithm());
    digest = std::async(std::launch::async, [md, source] {
      try {
        msi::AuthenticodeDigest(source, md);
      } catch (const std::exception&) {
        // The signing itself reports whatever made this fail.
      }
    });
  } else if (peImage) {
    const EVP_MD* md = HashMd(ChosenHashAlgorithm());
    digest = std::async(std::launch::async, [md, source] {
      try {
        pe::AuthenticodeDigest(source, md);
      } catch (const std::exception&) {
        // The signing itself reports whatever made this fail.
      }
    });
  }
  std::string workingCopy;
  try {
    workingCopy = MakeWorkingCopy(
        source, target, [&](const std::string& copy) { return FillWorkingCopy(source, copy); });
  } catch (const std::exception&) {
    if (digest.valid()) digest.wait();
    throw;
  }
  if (digest.valid()) {
    digest.wait();
    if (package)
      msi::NoteIdenticalCopy(source, sourceStamp, workingCopy);
    else
      pe::NoteIdenticalCopy(source, sourceStamp, workingCopy);
  }
  bool timestampOk = true;
  try {
    append_ = append;
    CreateSignature(workingCopy, timestampOk);
    if (::rename(workingCopy.c_str(), target.c_str()) != 0) {
      if (::unlink(workingCopy.c_str()) != 0) RaiseStatus(StatusCode::Undefined);
      RaiseStatus(StatusCode::FileIsInUse);
    }
  } catch (const std::exception&) {
    std::error_code ec;
    fs::remove(workingCopy, ec);
    throw;
  }
  // The file is signed and in place; only its timestamp is missing.
  if (!timestampOk) RaiseStatus(StatusCode::SignSucceedTimestampFailed);
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
  std::string previous;
  try {
    previous = ReadEmbeddedSignature(workingCopy);
  } catch (const std::exception&) {
    append_ = false;
  }
  BeforeSigning(workingCopy);
  SignerCertificate signer{manager_->certificate(), manager_->privateKey(), {}, false};
  std::string blob =
      PlatformSign(signer, workingCopy, timestampOk, protocol_, ChosenHashAlgorithm());
  platformSignatureLength_ = static_cast<std::uint32_t>(blob.size());
  Trace(("MssignApiSigLen:" + std::to_string(blob.size())).c_str());
  blob = AddCertificates(blob, ownCaIssued_, chineseNamedRoot_, manager_->chain());
  if (kernelMode_) blob = AddKernelCrossCertificates(blob, crossCertFile_, chineseNamedRoot_);
  if (append_) blob = NestSignature(previous, blob);
  EmbedSignedData(workingCopy, blob);
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
    pe::ReplaceSignature(path, data);
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

void MsiFileSign::BeforeSigning(const std::string& workingCopy) {
  if (append_) return;
  try {
    msi::RemoveExtendedSignature(workingCopy);
  } catch (const std::exception&) {
    // A package that cannot be edited is refused by the signing that follows.
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
