#include "sign/detached_signature.h"

#include <openssl/pem.h>
#include <openssl/pkcs7.h>

#include <memory>

#include "crypto/openssl_ptr.h"
#include "crypto/signed_message.h"
#include "sign/authenticode_content.h"
#include "sign/hash_algorithm.h"
#include "sign/subject_format.h"
#include "sign/working_copy.h"

namespace corvane {
namespace {

constexpr char kNoFormat[] = "not a PE image, cabinet or installer package";
constexpr char kCatalog[] = "a catalog is its own signature: copy the file itself";
constexpr char kNotSigned[] = "the file is not signed";

// The format of a file whose signature can be moved, or why there is none.
std::unique_ptr<SubjectFormat> MovableFormat(const std::string& path, std::string& why) {
  std::unique_ptr<SubjectFormat> format = DetectSubjectFormat(path);
  if (!format) {
    why = kNoFormat;
  } else if (!format->SignsIndirectData()) {
    why = kCatalog;
    format.reset();
  }
  return format;
}

std::optional<std::string> PemToDer(const std::string& text) {
  BioPtr bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
  PKCS7* p7 = PEM_read_bio_PKCS7(bio.get(), nullptr, nullptr, nullptr);
  if (!p7) return std::nullopt;
  unsigned char* out = nullptr;
  const int length = i2d_PKCS7(p7, &out);
  PKCS7_free(p7);
  if (length <= 0) return std::nullopt;
  std::string der(reinterpret_cast<char*>(out), static_cast<std::size_t>(length));
  OPENSSL_free(out);
  return der;
}

// Runs `change` on a working copy of the file and puts the copy in place when it returns
// nullopt; a refusal or a failure leaves the file untouched.
std::optional<std::string> OnWorkingCopy(
    const std::string& path, const SubjectFormat& format,
    const std::function<std::optional<std::string>(SubjectFormat& copy)>& change) {
  try {
    SigningTarget target(path);
    // A cabinet is rewritten by renaming new files over its copy: that copy needs a name.
    WorkingCopy copy(target, format.RewritesByRenaming());
    copy.Fill(target.path(), [](const std::string&) { return false; });
    std::unique_ptr<SubjectFormat> opened = DetectSubjectFormat(copy.path());
    if (!opened) return std::string(kNoFormat);
    if (std::optional<std::string> refused = change(*opened)) return refused;
    opened.reset();
    copy.Publish(target);
    return std::nullopt;
  } catch (const std::exception& e) {
    return std::string(e.what());
  }
}

}  // namespace

std::optional<std::string> ExtractSignature(const std::string& path, std::string& der) {
  try {
    std::string why;
    std::unique_ptr<SubjectFormat> format = MovableFormat(path, why);
    if (!format) return why;
    der = format->ReadSignature();
    if (der.empty()) return std::string(kNotSigned);
    return std::nullopt;
  } catch (const std::exception& e) {
    return std::string("the file cannot be read: ") + e.what();
  }
}

std::optional<std::string> AttachSignature(const std::string& path, const std::string& pkcs7) {
  std::string der = pkcs7;
  if (pkcs7.rfind("-----BEGIN", 0) == 0) {
    std::optional<std::string> decoded = PemToDer(pkcs7);
    if (!decoded) return std::string("the signature file holds no PKCS #7 in PEM form");
    der = *decoded;
  }
  IndirectDigest indirect;
  try {
    SignedMessage message = SignedMessage::Decode(der);
    if (message.SignerCount() == 0 || message.ContentType() != kOidSpcIndirectData ||
        !ParseIndirectData(message.ContentDer(), indirect))
      return std::string("the signature file holds no Authenticode signature");
  } catch (const std::exception&) {
    return std::string("the signature file holds no PKCS #7 signature");
  }
  const std::optional<HashAlgorithm> algorithm = HashFromOid(indirect.digestOid);
  if (!algorithm) return "the signature's digest algorithm " + indirect.digestOid + " is unknown";
  std::unique_ptr<SubjectFormat> format;
  try {
    std::string why;
    format = MovableFormat(path, why);
    if (!format) return why;
  } catch (const std::exception& e) {
    return std::string("the file cannot be read: ") + e.what();
  }
  return OnWorkingCopy(path, *format, [&](SubjectFormat& copy) -> std::optional<std::string> {
    copy.RemoveSignature();
    copy.Prepare();
    if (copy.Digest(HashMd(*algorithm)) != indirect.digest)
      return std::string("the signature was made for another file: its digest is not this file's");
    copy.WriteSignature(der);
    return std::nullopt;
  });
}

std::optional<std::string> RemoveSignature(const std::string& path) {
  std::unique_ptr<SubjectFormat> format;
  try {
    std::string why;
    format = MovableFormat(path, why);
    if (!format) return why;
    if (format->ReadSignature().empty()) return std::string(kNotSigned);
  } catch (const std::exception& e) {
    return std::string("the file cannot be read: ") + e.what();
  }
  return OnWorkingCopy(path, *format, [&](SubjectFormat& copy) -> std::optional<std::string> {
    copy.RemoveSignature();
    return std::nullopt;
  });
}

}  // namespace corvane
