// Certificates from text or files: PEM with header lines, bare base64 or raw DER.
#pragma once

#include <string>
#include <string_view>

#include "crypto/crypto_error.h"
#include "crypto/openssl_ptr.h"

namespace corvane {

// Raises CryptoError when the bytes hold no certificate in any of the three forms.
X509Ptr CertFromText(std::string_view bytes);

// Raises CryptoError when the file cannot be read or decoded.
X509Ptr CertFromFile(const std::string& path);

// The whole file; raises CryptoError when it cannot be read.
std::string ReadWholeFile(const std::string& path);

}  // namespace corvane
