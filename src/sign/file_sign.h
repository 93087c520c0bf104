// The signer family: one signer per file, chosen by the file's SignType. A signer never
// signs the user's file directly: it signs a working copy (sign/working_copy.h) and puts it in
// place of the destination only when the signature is complete, so a failure leaves the
// user's file as it was (the one exception is a failed timestamp: the signed file is kept
// and the outcome is "sign succeed, timestamp failed").
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "sign/authenticode_verifier.h"
#include "sign/signature_creation.h"
#include "sign/subject_format.h"

namespace corvane {

class CertManager;

class CFileSign {
 public:
  virtual ~CFileSign() = default;

  // Path checks only: the source exists and can be made writable, the destination's
  // directory exists and an existing destination can be made writable.
  virtual void SignFile(const std::string& source, const std::string& destination, bool append);
  // True when the file's signature is trusted; raises "invalid path" for a missing file.
  virtual bool VerifyFile(const std::string& path);
  virtual void SetKernelMode(bool kernelMode) { kernelMode_ = kernelMode; }
  virtual void SetCrossCertFile(const std::string& path) { crossCertFile_ = path; }
  // Argument checks only.
  virtual void EmbedSignedData(const std::string& path, const std::string& data);

  void SetCertManager(CertManager* manager) { manager_ = manager; }
  void SetTimestampProtocol(TimestampProtocol protocol) { protocol_ = protocol; }
  // Where the signers of one run keep the hash their certificate's key was probed for, so
  // that the key is probed once per run rather than once per file.
  void ShareHashChoice(std::optional<HashAlgorithm>* choice) { sharedHashChoice_ = choice; }

  bool kernelMode() const { return kernelMode_; }
  std::uint32_t platformSignatureLength() const { return platformSignatureLength_; }

 protected:
  CertManager* manager_ = nullptr;
  bool kernelMode_ = false;
  bool ownCaIssued_ = false;
  bool chineseNamedRoot_ = false;
  std::string crossCertFile_;
  std::uint32_t platformSignatureLength_ = 0;
  bool append_ = false;
  TimestampProtocol protocol_ = TimestampProtocol::Authenticode;
  std::optional<HashAlgorithm>* sharedHashChoice_ = nullptr;
};

// The common flow of every Authenticode signer.
class MsFileSign : public CFileSign {
 public:
  void SignFile(const std::string& source, const std::string& destination, bool append) override;
  bool VerifyFile(const std::string& path) override;
  // What VerifyFile decides on, with every signature's details; raises "invalid path" for a
  // missing file.
  VerifyReport Verify(const std::string& path);

 protected:
  // Signs the working copy and embeds the final signature; returns it.
  std::string CreateSignature(const std::string& workingCopy, bool& timestampOk);
  // Called once it is known whether the new signature replaces the old one or is appended,
  // before the working copy is signed.
  virtual void BeforeSigning(SubjectFormat& /*workingCopy*/) {}
  // Writes the working copy (an empty file) from the source in a way of the format's own;
  // false leaves it to a byte-for-byte copy. A digest of the copy worked out on the way goes
  // into copyDigest_.
  virtual bool FillWorkingCopy(const std::string& /*source*/, const std::string& /*workingCopy*/) {
    return false;
  }
  // True for a format whose editing renames new files over the working copy's name.
  virtual bool NeedsNamedWorkingCopy() const { return false; }
  // Puts the final signature into the working copy, which the signing left without it: the
  // copy is written once. EmbedSignedData unless the format says otherwise.
  virtual void EmbedFinalSignature(SubjectFormat& workingCopy, const std::string& data) {
    EmbedSignedData(workingCopy.path(), data);
  }
  // The working copy (or the file at `path`) opened as its format, once per signing; raises
  // the signing's status for a file that is none.
  SubjectFormat& SubjectFor(const std::string& path);
  // The hash of this file's signature, chosen (and the key probed) once per file, or once per
  // run where the run shares its choice: the digest taken while the working copy is made and
  // the signing itself must agree on it.
  HashAlgorithm ChosenHashAlgorithm();

  std::optional<std::pair<const EVP_MD*, std::string>> copyDigest_;

 private:
  std::optional<HashAlgorithm> hashAlgorithm_;
  std::unique_ptr<SubjectFormat> subject_;
};

// PE images: the certificate table is cut and written anew with the final signature.
class CPeFileSign : public MsFileSign {
 public:
  void EmbedSignedData(const std::string& path, const std::string& data) override;
};

// Installer packages: the final signature goes into the signature stream.
class MsiFileSign : public MsFileSign {
 public:
  // Rewrites the existing signature stream; the stream must be there.
  void EmbedSignedData(const std::string& path, const std::string& data) override;

 protected:
  // Makes the signature stream, which a signing in this flow has not written.
  void EmbedFinalSignature(SubjectFormat& workingCopy, const std::string& data) override;
  // "MsiDigitalSignatureEx" belongs to the signature it was made for: a replaced signature
  // takes it along, an appended one leaves it for the primary signature.
  void BeforeSigning(SubjectFormat& workingCopy) override;
};

// A catalog is its signed message: the final signature becomes the whole file.
class CatFileSign : public MsFileSign {
 public:
  void EmbedSignedData(const std::string& path, const std::string& data) override;
};

// The signer for a SignType; null for the types no signer handles.
std::unique_ptr<CFileSign> CreateFileSigner(std::string_view signType);

}  // namespace corvane
