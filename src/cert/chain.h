// The chain list: the certificates between the signing certificate and a root, issuer
// first, root last. Every signature of a run carries them.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "crypto/openssl_ptr.h"

namespace corvane {

struct ChainCert {
  std::string serialHex;
  std::string issuerName;
  std::string subjectName;
  std::string encoded;  // DER
};

using ChainList = std::vector<ChainCert>;

ChainCert MakeChainCert(const X509* cert);

// Walks from `issuerName` by subject names to a self-issued entry and keeps only that path.
// When no root is reached the list is emptied. A name met twice ends the walk.
void OrderChain(ChainList& chain, const std::string& issuerName, const std::string& subjectName);

// Every CA certificate of the PFX store, then ordered. Raises "undefined" when a certificate
// of the store has no basic-constraints extension.
void ChainFromPfxStore(ChainList& chain, const X509* signingCert,
                       const std::vector<X509Ptr>& storeCertificates);

// Fetches a URL into a file; raises on failure.
using IssuerDownloader = std::function<void(const std::string& url, const std::string& path)>;

// Downloads issuers one by one from the CA-issuers URLs of the authority-information-access
// extensions. Never raises: an incomplete walk leaves what it found. Ends when a certificate
// repeats or after kMaxAiaSteps downloads; each downloaded file is deleted after reading.
inline constexpr int kMaxAiaSteps = 16;
void ChainFromAia(ChainList& chain, const X509* signingCert, const IssuerDownloader& download,
                  const std::string& tempDirectory);

}  // namespace corvane
