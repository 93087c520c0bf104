// Joining a certificate and its private key into a password-protected PKCS #12 (PFX) file.
#pragma once

#include <string>

#include "zorvat/zorvat_source.h"

namespace corvane::zorvat {

// The DER PFX: one key bag and one certificate bag with an empty friendly name, OpenSSL's
// default algorithms. False with the reason in errorText when the certificate or key cannot
// be loaded or the key does not belong to the certificate.
bool MakePfx(std::string& pfxOut, const std::string& pfxPassword, const Source& certSource,
             const std::string& keyPath, const std::string& keyPassword, std::string& errorText);

}  // namespace corvane::zorvat
