// The file formats a signature can be placed in, seen the same way by the signer and the
// verifier: how the file is prepared, which digest its signature carries, where the
// signature lives.
#pragma once

#include <openssl/evp.h>

#include <memory>
#include <string>

#include "crypto/signed_message.h"
#include "sign/authenticode_content.h"

namespace corvane {

class SubjectFormat {
 public:
  virtual ~SubjectFormat() = default;
  virtual SubjectKind kind() const = 0;
  // Makes the file ready for a fresh signature (padding, header reserve); the digest of the
  // prepared file is what the signature must carry.
  virtual void Prepare(const std::string& path) const = 0;
  virtual std::string Digest(const std::string& path, const EVP_MD* md) const = 0;
  // What a fresh signature of the prepared file signs: its content type and DER content.
  // Indirect data carrying the file's digest, for every format that does not say otherwise.
  virtual const char* ContentType() const { return kOidSpcIndirectData; }
  virtual std::string SignedContent(const std::string& path, HashAlgorithm algorithm) const {
    return BuildIndirectData(kind(), algorithm, Digest(path, HashMd(algorithm)));
  }
  // False for a format whose signature signs something other than indirect data with the
  // file's digest (a catalog signs its certificate trust list).
  virtual bool SignsIndirectData() const { return true; }
  // True when the file type's embedder writes the final signature right after the timestamp
  // step, so that step leaves the file alone: rewriting it there too would cost one more pass
  // over a PE image's checksum or one more edit of an installer package.
  virtual bool SignatureWrittenByEmbedder() const { return false; }
  // The signature DER embedded in the file; empty when there is none.
  virtual std::string ReadSignature(const std::string& path) const = 0;
  // Places `der` as the file's only signature.
  virtual void WriteSignature(const std::string& path, const std::string& der) const = 0;
  // Takes every signature out, leaving the file as it was before it was signed (a cabinet
  // keeps an empty signature reserve). False for a catalog, which is its signature.
  virtual bool RemoveSignature(const std::string& path) const = 0;
};

// Whether the signatures of PE images made from now on carry page hashes (off unless asked).
void SetPageHashes(bool on);
bool PageHashesWanted();

// The format of the file at `path`, recognised from its content; null when none fits.
// Malformed files of a known format raise the format module's error.
std::unique_ptr<SubjectFormat> DetectSubjectFormat(const std::string& path);

}  // namespace corvane
