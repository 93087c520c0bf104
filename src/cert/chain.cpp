#include "cert/chain.h"

#include <cstdio>
#include <filesystem>
#include <random>
#include <set>

#include "base/trace.h"
#include "cert/cert_checks.h"
#include "crypto/cert_decode.h"
#include "crypto/x509_names.h"

namespace corvane {

ChainCert MakeChainCert(const X509* cert) {
  return {SerialHex(cert), IssuerDisplayName(cert), SubjectDisplayName(cert), CertDer(cert)};
}

void OrderChain(ChainList& chain, const std::string& issuerName, const std::string& subjectName) {
  (void)subjectName;  // the walk starts at the issuer; the subject itself is never an entry
  ChainList path;
  std::set<std::size_t> taken;
  std::string target = issuerName;
  while (path.size() < chain.size()) {
    std::size_t found = chain.size();
    for (std::size_t i = 0; i < chain.size(); ++i) {
      if (chain[i].subjectName == target) {
        found = i;
        break;
      }
    }
    if (found == chain.size() || !taken.insert(found).second) break;
    path.push_back(chain[found]);
    if (chain[found].issuerName == chain[found].subjectName) break;
    target = chain[found].issuerName;
  }
  if (!path.empty() && path.back().issuerName == path.back().subjectName)
    chain = std::move(path);
  else
    chain.clear();
}

void ChainFromPfxStore(ChainList& chain, const X509* signingCert,
                       const std::vector<X509Ptr>& storeCertificates) {
  chain.clear();
  Trace("get cert chain from pfx store:");
  for (const X509Ptr& cert : storeCertificates)
    if (IsCaCertificate(cert.get())) chain.push_back(MakeChainCert(cert.get()));
  OrderChain(chain, IssuerDisplayName(signingCert), SubjectDisplayName(signingCert));
}

void ChainFromAia(ChainList& chain, const X509* signingCert, const IssuerDownloader& download,
                  const std::string& tempDirectory) {
  chain.clear();
  Trace("get cert chain from aia:");
  const std::string issuerName = IssuerDisplayName(signingCert);
  const std::string subjectName = SubjectDisplayName(signingCert);
  std::set<std::string> seen{CertDer(signingCert)};
  std::random_device seed;
  std::mt19937_64 random(seed());

  X509Ptr current = UpRef(const_cast<X509*>(signingCert));
  for (int step = 0; step < kMaxAiaSteps; ++step) {
    std::optional<std::string> url = CaIssuersUrl(current.get());
    if (!url) return;  // the usual end: a root names no issuer
    if (url->empty()) break;
    std::string path = tempDirectory + "/" + std::to_string(random());
    try {
      download(*url, path);
    } catch (const std::exception&) {
      std::error_code ec;
      std::filesystem::remove(path, ec);
      break;
    }
    X509Ptr issuer;
    try {
      issuer = CertFromFile(path);
    } catch (const std::exception&) {
    }
    std::error_code ec;
    std::filesystem::remove(path, ec);
    if (!issuer || !seen.insert(CertDer(issuer.get())).second) return;
    chain.push_back(MakeChainCert(issuer.get()));
    current = std::move(issuer);
  }
  OrderChain(chain, issuerName, subjectName);
}

}  // namespace corvane
