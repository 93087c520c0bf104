// The file formats a signature can be placed in, seen the same way by the signer and the
// verifier: how the file is prepared, which digest its signature carries, where the
// signature lives.
#pragma once

#include <openssl/evp.h>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "crypto/signed_message.h"
#include "sign/authenticode_content.h"

namespace corvane {

// One file of one of these formats, opened once: the signer, the timestamp step, the verifier
// and the signature mover all work through it. It keeps what reading the file taught it (the
// digests taken, a PE image's digest state and word sum), so a file is digested once however
// many steps need its digest, and a working copy can take over what a pass over its source
// learned while it was copied. What it keeps holds while the file changes only through it;
// whoever changes the file otherwise says so with FileChanged.
class SubjectFormat {
 public:
  explicit SubjectFormat(std::string path) : path_(std::move(path)) {}
  virtual ~SubjectFormat() = default;
  SubjectFormat(const SubjectFormat&) = delete;
  SubjectFormat& operator=(const SubjectFormat&) = delete;

  const std::string& path() const { return path_; }
  // Makes the file ready for a fresh signature (padding, header reserve); the digest of the
  // prepared file is what the signature must carry.
  virtual void Prepare() = 0;
  // The file's Authenticode digest with `md`.
  std::string Digest(const EVP_MD* md);
  // `digest` is the file's digest with `md` as the file is now, worked out elsewhere (from
  // the source while this working copy was written).
  void TakeDigest(const EVP_MD* md, std::string digest);
  // This file was just copied byte for byte from `source`'s file, which has not changed since
  // `source` read it: what `source` learned holds here too.
  virtual void TakeOverFrom(const SubjectFormat& source);
  // True when a byte-for-byte copy of the file has the file's digest (a cabinet's working copy
  // is written prepared, and a catalog's digest costs nothing).
  virtual bool DigestHoldsForACopy() const { return false; }
  // The file was changed by something other than this object.
  virtual void FileChanged() { ForgetDigests(); }
  // Removes what belongs to the present signature beside it (an installer package's
  // pre-hash) before a fresh signature replaces it; false when there was nothing.
  virtual bool RemoveSignatureCompanions() { return false; }

  // What a fresh signature of the prepared file signs: its content type and DER content.
  // Indirect data carrying the file's digest, for every format that does not say otherwise.
  virtual const char* ContentType() const { return kOidSpcIndirectData; }
  virtual std::string SignedContent(HashAlgorithm algorithm) {
    return BuildIndirectData(IndirectDataValue(algorithm), algorithm, Digest(HashMd(algorithm)));
  }
  // What the indirect data says the file is (authenticode_content.h).
  virtual std::string IndirectDataValue(HashAlgorithm /*algorithm*/) const {
    return CabDataValue();
  }
  // False for a format whose signature signs something other than indirect data with the
  // file's digest (a catalog signs its certificate trust list).
  virtual bool SignsIndirectData() const { return true; }
  // The signature DER embedded in the file; empty when there is none.
  virtual std::string ReadSignature() const = 0;
  // Places `der` as the file's only signature.
  virtual void WriteSignature(const std::string& der) = 0;
  // Takes every signature out, leaving the file as it was before it was signed (a cabinet
  // keeps an empty signature reserve). False for a catalog, which is its signature.
  virtual bool RemoveSignature() = 0;
  // True for a format whose edits rename new files over the file's name: its working copy
  // needs a name of its own.
  virtual bool RewritesByRenaming() const { return false; }

  // As a member of a catalog: the subject type the catalog lists and the digest it lists.
  virtual const char* MemberSubjectType() const;
  virtual std::string MemberDigest(const EVP_MD* md) { return Digest(md); }

 protected:
  virtual std::string ComputeDigest(const EVP_MD* md) = 0;
  void ForgetDigests() { digests_.clear(); }

 private:
  std::string path_;
  std::map<std::string, std::string, std::less<>> digests_;  // by the digest's name
};

// Whether the signatures of PE images made from now on carry page hashes (off unless asked).
void SetPageHashes(bool on);
bool PageHashesWanted();

// The file at `path` opened as the format its content shows; null when none fits. Malformed
// files of a known format raise the format module's error.
std::unique_ptr<SubjectFormat> DetectSubjectFormat(const std::string& path);

// The file at `path` opened as a catalog lists it: a PE image, cabinet or installer package as
// its format, any other file (a catalog too) as a flat file digested over all its bytes.
std::unique_ptr<SubjectFormat> OpenCatalogMember(const std::string& path);

}  // namespace corvane
