// A second reader of PKCS #10 requests, independent of OpenSSL's request parser: walks the
// DER itself and gives what the key-store check shows. The signature is always verified.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane {

struct Pkcs10Description {
  std::string subject;       // "CN=..., O=..., C=...", last attribute first
  std::string keyAlgorithm;  // "RSA", "DSA", or the key type's name
  int keyBits = 0;
  std::string signatureAlgorithm;  // "<hash>WithRSAEncryption" for RSA keys
};

// The description of a base64 request body (line breaks and blanks allowed), or nullopt when
// it does not decode, is no request, or its signature does not match its own key.
std::optional<Pkcs10Description> DescribeBase64Pkcs10(std::string_view base64);

}  // namespace corvane
