// The hash algorithms of Authenticode signatures, with the platform's identifiers.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <optional>
#include <string>

namespace corvane {

enum class HashAlgorithm : std::uint32_t {
  Sha1 = 0x8004,
  Sha256 = 0x800C,
  Sha384 = 0x800D,
  Sha512 = 0x800E,
};

const EVP_MD* HashMd(HashAlgorithm algorithm);
const char* HashName(HashAlgorithm algorithm);  // "sha1", "sha256", ...
const char* HashOid(HashAlgorithm algorithm);   // digest algorithm object identifier
std::optional<HashAlgorithm> HashFromOid(const std::string& oid);
std::optional<HashAlgorithm> HashFromName(const std::string& name);

}  // namespace corvane
