#include "cert/cross_cert.h"

#include <cstring>
#include <filesystem>

#include "crypto/cert_decode.h"
#include "crypto/x509_names.h"

namespace corvane {

bool MatchCrossCert(const std::string& path, const ChainList& chain) {
  try {
    X509Ptr cross = CertFromFile(path);
    if (IssuerDisplayName(cross.get()) != kKernelRootName) return false;
    std::optional<std::string> crossKeyId = SubjectKeyId(cross.get());
    if (!crossKeyId) return false;
    const std::string crossSubject = SubjectDisplayName(cross.get());
    for (const ChainCert& entry : chain) {
      const auto* p = reinterpret_cast<const unsigned char*>(entry.encoded.data());
      X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(entry.encoded.size())));
      if (!cert || IssuerDisplayName(cert.get()) != crossSubject) continue;
      std::optional<std::string> keyId = SubjectKeyId(cert.get());
      if (!keyId) return false;
      if (keyId->size() >= crossKeyId->size() &&
          std::memcmp(keyId->data(), crossKeyId->data(), crossKeyId->size()) == 0)
        return true;
    }
  } catch (const std::exception&) {
  }
  return false;
}

std::string CheckCrossCertChoice(const std::string& path, const ChainList& chain) {
  std::error_code ec;
  if (path.empty()) return "TipSelCrossCert";
  if (!std::filesystem::exists(path, ec)) return "TipNotExistCrossCert";
  if (chain.empty()) return "TipIncompVerifyInfo";
  if (!MatchCrossCert(path, chain)) return "TipCertNotMatch";
  return {};
}

}  // namespace corvane
