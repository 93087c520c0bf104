#include "sign/hash_algorithm.h"

namespace corvane {
namespace {

struct Row {
  HashAlgorithm algorithm;
  const char* name;
  const char* oid;
};

constexpr Row kRows[] = {
    {HashAlgorithm::Sha1, "sha1", "1.3.14.3.2.26"},
    {HashAlgorithm::Sha256, "sha256", "2.16.840.1.101.3.4.2.1"},
    {HashAlgorithm::Sha384, "sha384", "2.16.840.1.101.3.4.2.2"},
    {HashAlgorithm::Sha512, "sha512", "2.16.840.1.101.3.4.2.3"},
};

const Row& RowOf(HashAlgorithm algorithm) {
  for (const Row& row : kRows)
    if (row.algorithm == algorithm) return row;
  return kRows[0];
}

}  // namespace

const EVP_MD* HashMd(HashAlgorithm algorithm) {
  switch (algorithm) {
    case HashAlgorithm::Sha1:
      return EVP_sha1();
    case HashAlgorithm::Sha256:
      return EVP_sha256();
    case HashAlgorithm::Sha384:
      return EVP_sha384();
    case HashAlgorithm::Sha512:
      return EVP_sha512();
  }
  return EVP_sha1();
}

const char* HashName(HashAlgorithm algorithm) { return RowOf(algorithm).name; }
const char* HashOid(HashAlgorithm algorithm) { return RowOf(algorithm).oid; }

std::optional<HashAlgorithm> HashFromOid(const std::string& oid) {
  for (const Row& row : kRows)
    if (oid == row.oid) return row.algorithm;
  return std::nullopt;
}

std::optional<HashAlgorithm> HashFromName(const std::string& name) {
  for (const Row& row : kRows)
    if (name == row.name) return row.algorithm;
  return std::nullopt;
}

}  // namespace corvane
