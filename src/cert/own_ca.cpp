#include "cert/own_ca.h"

#include <cstring>

#include "base/status.h"
#include "base/utf8.h"
#include "crypto/x509_names.h"

namespace corvane {
namespace {
#include "cert/own_ca_key_ids.inc"

bool StartsWith20(const std::string& id, const unsigned char (&expected)[20]) {
  return id.size() >= 20 && std::memcmp(id.data(), expected, 20) == 0;
}

}  // namespace

OwnCaFlags RecognizeOwnCa(const ChainList& chain, const X509* signingCert) {
  OwnCaFlags flags;
  if (!chain.empty()) {
    for (const ChainCert& entry : chain) {
      if (entry.subjectName != kRootAName && entry.subjectName != kRootBName) continue;
      const auto* p = reinterpret_cast<const unsigned char*>(entry.encoded.data());
      X509Ptr root(d2i_X509(nullptr, &p, static_cast<long>(entry.encoded.size())));
      if (!root) RaiseStatus(StatusCode::Undefined);
      std::optional<std::string> keyId = SubjectKeyId(root.get());
      if (!keyId) RaiseStatus(StatusCode::Undefined);
      flags.ownCaIssued = StartsWith20(*keyId, kRootAKeyId) || StartsWith20(*keyId, kRootBKeyId);
      break;
    }
    flags.chineseNamedRoot = HasHighByteAboveA0(chain.back().subjectName);
    return flags;
  }
  std::optional<std::string> authorityKeyId = AuthorityKeyId(signingCert);
  if (!authorityKeyId) RaiseStatus(StatusCode::Undefined);
  for (const auto& issuing : kIssuingCaKeyIds)
    if (StartsWith20(*authorityKeyId, issuing)) flags.ownCaIssued = true;
  flags.chineseNamedRoot = HasHighByteAboveA0(SubjectDisplayName(signingCert));
  return flags;
}

}  // namespace corvane
