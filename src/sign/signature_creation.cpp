#include "sign/signature_creation.h"

#include <unistd.h>

#include <cstdio>

#include "base/paths.h"
#include "base/run_log.h"
#include "base/status.h"
#include "base/trace.h"
#include "cert/builtin_certs.h"
#include "crypto/cert_decode.h"
#include "crypto/signed_message.h"
#include "crypto/x509_names.h"
#include "formats/cab/cab_image.h"
#include "net/server_hosts.h"
#include "sign/sign_result.h"
#include "sign/subject_format.h"
#include "sign/timestamp_client.h"
#include "sign/working_copy.h"

namespace corvane {
namespace {

constexpr char kProbeFilePrefix[] = "corvanetempfile.cab.";

// Adds the timestamp to the signature, and to the file unless the embedder writes it; false
// leaves file and blob unchanged.
bool SignerTimeStampEx(SubjectFormat& file, std::string& blob, TimestampProtocol protocol,
                       HashAlgorithm algorithm, SignatureWrite write) {
  std::optional<std::string> stamped =
      AddTimestampFromHosts(blob, protocol == TimestampProtocol::Rfc3161, HashMd(algorithm));
  if (!stamped) return false;
  if (write == SignatureWrite::IntoFile) {
    try {
      file.WriteSignature(*stamped);
    } catch (const std::exception&) {
      return false;
    }
  }
  blob = std::move(*stamped);
  return true;
}

void AddBuiltin(SignedMessage& message, int id) {
  AddCertToSignature(message, CertDer(LoadBuiltinCert(id).get()));
}

}  // namespace

void CheckResult(std::uint32_t code) {
  if (code == 0) return;
  LogError("%s, hresult: 0x%x", "SignWin::CheckResult", code);
  switch (code) {
    case kTrustSubjectFormUnknown:
    case kErrorBadExeFormat:
      RaiseStatus(StatusCode::FileTypeNotSupported);
    case kSmartCardCancelledByUser:
    case kErrorCancelled:
      RaiseStatus(StatusCode::UserCancel);
    case kErrorSharingViolation:
      RaiseStatus(StatusCode::FileIsInUse);
    case kBadAlgorithm:
      RaiseStatus(StatusCode::AlgorithmNotSupported);
    default:
      return;
  }
}

std::unique_ptr<SubjectFormat> OpenForSigning(const std::string& path) {
  std::unique_ptr<SubjectFormat> file;
  try {
    file = DetectSubjectFormat(path);
  } catch (const std::exception&) {
    CheckResult(kErrorBadExeFormat);
  }
  if (!file) CheckResult(kTrustSubjectFormUnknown);
  return file;
}

TempFileForSign::TempFileForSign() {
  std::string dir = TemporaryDirectory();
  if (dir.back() != '/') dir += '/';
  RemoveFilesOfEndedProcesses(dir, kProbeFilePrefix);
  std::string pattern = dir + kProbeFilePrefix + std::to_string(::getpid()) + "-XXXXXX";
  int fd = ::mkstemp(pattern.data());
  bool written = fd >= 0 && ::write(fd, cab::kProbeCabinet, sizeof cab::kProbeCabinet) ==
                                static_cast<ssize_t>(sizeof cab::kProbeCabinet);
  if (fd >= 0 && ::close(fd) != 0) written = false;
  if (!written) {
    if (fd >= 0) ::unlink(pattern.c_str());
    RaiseStatus("%s, %s", "Sign::GetTempFileForSign", "invalid path");
  }
  path_ = pattern;
}

TempFileForSign::~TempFileForSign() {
  if (!path_.empty()) ::unlink(path_.c_str());
}

bool ProbeSha256(const SignerCertificate& signer) {
  try {
    SignerCertificate probe = signer;
    probe.addChain = false;
    std::string blob;
    TempFileForSign cabinet;
    // Only whether the key signs matters: the signature is not written into the cabinet.
    std::uint32_t code = SignerSignEx(cabinet.path(), probe, HashAlgorithm::Sha256, blob,
                                      SignatureWrite::ByEmbedder);
    if (code == kKeyProviderFailure || code == kBadAlgorithm)
      RaiseStatus(StatusCode::AlgorithmNotSupported);
    if (code != 0 || blob.empty()) RaiseStatus(StatusCode::Undefined);
    return true;
  } catch (const std::exception& e) {
    if (HasStatus(e, StatusCode::AlgorithmNotSupported)) throw;
    return false;
  }
}

HashAlgorithm ChooseHashAlgorithm(const SignerCertificate& signer) {
  char oid[128] = {};
  OBJ_obj2txt(oid, sizeof oid, OBJ_nid2obj(X509_get_signature_nid(signer.certificate)), 1);
  const std::string text = oid;
  HashAlgorithm wanted;
  if (text == "1.2.840.113549.1.1.11" || text == "1.2.840.10045.4.3.2")
    wanted = HashAlgorithm::Sha256;
  else if (text == "1.2.840.113549.1.1.12" || text == "1.2.840.10045.4.3.3")
    wanted = HashAlgorithm::Sha384;
  else if (text == "1.2.840.113549.1.1.13" || text == "1.2.840.10045.4.3.4")
    wanted = HashAlgorithm::Sha512;
  else
    return HashAlgorithm::Sha1;
  return ProbeSha256(signer) ? wanted : HashAlgorithm::Sha1;
}

std::string PlatformSign(const SignerCertificate& signer, const std::string& path, bool& timestamp,
                         TimestampProtocol protocol) {
  return PlatformSign(signer, path, timestamp, protocol, ChooseHashAlgorithm(signer));
}

std::string PlatformSign(const SignerCertificate& signer, const std::string& path, bool& timestamp,
                         TimestampProtocol protocol, HashAlgorithm algorithm,
                         SignatureWrite write) {
  return PlatformSign(signer, *OpenForSigning(path), timestamp, protocol, algorithm, write);
}

std::string PlatformSign(const SignerCertificate& signer, SubjectFormat& file, bool& timestamp,
                         TimestampProtocol protocol, HashAlgorithm algorithm,
                         SignatureWrite write) {
  std::string blob;
  std::uint32_t code = SignerSignEx(file, signer, algorithm, blob, write);
  CheckResult(code);
  if (code != 0 || blob.empty()) RaiseStatus(StatusCode::SignFileFailed);
  if (timestamp) timestamp = SignerTimeStampEx(file, blob, protocol, algorithm, write);
  return blob;
}

std::string ReadEmbeddedSignature(const SubjectFormat& file) {
  try {
    std::string blob = file.ReadSignature();
    if (blob.empty() || SignedMessage::Decode(blob).SignerCount() == 0)
      RaiseStatus(StatusCode::Undefined);
    return blob;
  } catch (const ExceptionEx&) {
    throw;
  } catch (const std::exception&) {
    RaiseStatus(StatusCode::Undefined);
  }
}

std::string ReadEmbeddedSignature(const std::string& path) {
  std::unique_ptr<SubjectFormat> file;
  try {
    file = DetectSubjectFormat(path);
  } catch (const std::exception&) {
    RaiseStatus(StatusCode::Undefined);
  }
  if (!file) RaiseStatus(StatusCode::Undefined);
  return ReadEmbeddedSignature(*file);
}

std::string AddCertificates(const std::string& blob, bool ownCaIssued, bool chineseNamedRoot,
                            const ChainList& chain) {
  try {
    SignedMessage message = SignedMessage::Decode(blob);
    if (ownCaIssued) AddBuiltin(message, chineseNamedRoot ? kRootBCrossSigned : kRootACrossSigned);
    for (const ChainCert& entry : chain)
      if (AddCertToSignature(message, entry.encoded)) Trace("add cert to sig:");
    return message.Encode();
  } catch (const CryptoError&) {
    RaiseStatus(StatusCode::Undefined);
  }
}

std::string AddKernelCrossCertificates(const std::string& blob, const std::string& crossCertFile,
                                       bool chineseNamedRoot) {
  try {
    SignedMessage message = SignedMessage::Decode(blob);
    if (crossCertFile.empty()) {
      AddBuiltin(message, kPartnerKernelCross);
      AddBuiltin(message, chineseNamedRoot ? kRootBKernelCross : kRootAKernelCross);
    } else {
      AddCertToSignature(message, CertDer(CertFromFile(crossCertFile).get()));
    }
    return message.Encode();
  } catch (const CryptoError&) {
    RaiseStatus(StatusCode::Undefined);
  }
}

}  // namespace corvane
