// Installer packages as signing sees them: a compound file whose root storage holds the
// Authenticode signature in the stream U+0005 "DigitalSignature". Bytes in, bytes out: no
// policy. Malformed packages raise cfb::CfbFormatError; I/O failures std::system_error.
#pragma once

#include <openssl/evp.h>

#include <memory>
#include <string>

#include "formats/file_reader.h"

namespace corvane::cfb {
class CompoundFile;
}  // namespace corvane::cfb

namespace corvane::msi {

// U+0005 "DigitalSignature" and U+0005 "MsiDigitalSignatureEx".
extern const std::u16string kSignatureStream;
extern const std::u16string kSignatureExStream;

// Signatures larger than this are refused when read: no real one comes close.
inline constexpr std::size_t kMaxSignatureSize = 64u << 20;

// True when the file starts like a compound file.
bool LooksLikePackage(const std::string& path);

// Opens and validates the package's structure.
void CheckPackage(const std::string& path);

// The Authenticode digest with `md`, as Windows computes it: when the package carries
// "MsiDigitalSignatureEx", its content first; then, storage by storage from the root, the
// content of every stream and storage in the order of their UTF-16LE names compared byte by
// byte (the two signature streams of the root left out), each storage's class id after its
// children, the root's class id last. Streamed: memory use does not grow with the package.
std::string AuthenticodeDigest(const std::string& path, const EVP_MD* md);

// The DER in the signature stream; empty when the package has none.
std::string ReadSignature(const std::string& path);

// Creates or rewrites the signature stream so that it holds exactly `der`. In place: call it
// on a working copy.
void WriteSignature(const std::string& path, const std::string& der);

// Rewrites the existing signature stream with exactly `der`; cfb::CfbFormatError when the
// package has no signature stream.
void ReplaceSignature(const std::string& path, const std::string& der);

// Removes "MsiDigitalSignatureEx" (the pre-hash of an earlier signature); true when there
// was one. In place: call it on a working copy.
bool RemoveExtendedSignature(const std::string& path);

// Removes the signature stream and the pre-hash; true when there was a signature. In place:
// call it on a working copy.
bool RemoveSignature(const std::string& path);

// One package, opened and its structure read once: read-only, and again writable at the first
// edit, which it then keeps. The functions above are these on a package opened for the call.
class Package {
 public:
  explicit Package(std::string path);  // validates the structure; raises as CheckPackage
  ~Package();
  Package(const Package&) = delete;
  Package& operator=(const Package&) = delete;

  const std::string& path() const { return path_; }
  std::string AuthenticodeDigest(const EVP_MD* md) const;
  std::string ReadSignature() const;
  void WriteSignature(const std::string& der);
  void ReplaceSignature(const std::string& der);
  bool RemoveExtendedSignature();
  bool RemoveSignature();

 private:
  cfb::CompoundFile& Editable();

  std::string path_;
  std::unique_ptr<cfb::CompoundFile> file_;
  bool writable_ = false;
};

}  // namespace corvane::msi
