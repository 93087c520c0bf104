// Signatures moved between files and machines: the signature of a PE image, cabinet or
// installer package read out as PKCS #7, such a signature placed into a file whose digest it
// carries, or taken out. Each change is made on a working copy that takes the file's place only
// when complete, so a refusal or a failure leaves the file as it was.
#pragma once

#include <optional>
#include <string>

namespace corvane {

// The file's signature as DER into `der`. Nullopt on success, else why not.
std::optional<std::string> ExtractSignature(const std::string& path, std::string& der);

// Places `pkcs7` (DER, or PEM "PKCS7" / "SIGNED DATA") as the file's only signature, replacing
// any it has, after checking that the digest it carries is the file's. Nullopt on success.
std::optional<std::string> AttachSignature(const std::string& path, const std::string& pkcs7);

// Takes the file's signature out. Nullopt on success.
std::optional<std::string> RemoveSignature(const std::string& path);

}  // namespace corvane
