#include "cert/chain_completion.h"

#include <openssl/x509_vfy.h>

#include <set>
#include <string>

#include "crypto/trust_store.h"
#include "crypto/x509_names.h"

namespace corvane {
namespace {

struct CertStackFree {
  void operator()(STACK_OF(X509) * stack) const { sk_X509_pop_free(stack, X509_free); }
};
using CertStackPtr = std::unique_ptr<STACK_OF(X509), CertStackFree>;

struct StoreCtxFree {
  void operator()(X509_STORE_CTX* ctx) const { X509_STORE_CTX_free(ctx); }
};

constexpr std::size_t kMaxChainLength = 16;

void AppendStore(std::vector<X509Ptr>& out, X509_STORE* store) {
  if (!store) return;
  CertStackPtr all(X509_STORE_get1_all_certs(store));
  while (all && sk_X509_num(all.get()) > 0) out.emplace_back(sk_X509_shift(all.get()));
}

X509Ptr Decode(const std::string& der) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(der.data());
  return X509Ptr(d2i_X509(nullptr, &bytes, static_cast<long>(der.size())));
}

bool SelfIssued(const X509* cert) {
  return X509_NAME_cmp(X509_get_subject_name(cert), X509_get_issuer_name(cert)) == 0;
}

}  // namespace

std::vector<X509Ptr> KnownChainCertificates(const std::vector<X509Ptr>& sourceCertificates) {
  std::vector<X509Ptr> known;
  for (const X509Ptr& cert : sourceCertificates) known.push_back(UpRef(cert.get()));
  if (std::string dir = UserIntermediateDirectory(); !dir.empty())
    AppendStore(known, BuildTrustStore({dir}).get());
  return known;
}

namespace {

// The issuer of `cert` in `trust`, looked up by name (the system's certificates are loaded by
// name as they are asked for); null when it has none.
X509Ptr IssuerInStore(X509_STORE* trust, X509* cert) {
  if (!trust) return nullptr;
  std::unique_ptr<X509_STORE_CTX, StoreCtxFree> ctx(X509_STORE_CTX_new());
  if (!ctx || X509_STORE_CTX_init(ctx.get(), trust, cert, nullptr) != 1) return nullptr;
  X509* issuer = nullptr;
  if (X509_STORE_CTX_get1_issuer(&issuer, ctx.get(), cert) != 1) return nullptr;
  return X509Ptr(issuer);
}

}  // namespace

void CompleteChain(ChainList& chain, const X509* signingCert, const std::vector<X509Ptr>& known,
                   X509_STORE* trust) {
  if (!signingCert) return;
  if (!chain.empty() && chain.back().issuerName == chain.back().subjectName) return;
  std::vector<X509Ptr> candidates;
  for (const ChainCert& entry : chain)
    if (X509Ptr cert = Decode(entry.encoded)) candidates.push_back(std::move(cert));
  for (const X509Ptr& cert : known) candidates.push_back(UpRef(cert.get()));

  ChainList path;
  std::set<std::string> seen{CertDer(signingCert)};
  X509* current = const_cast<X509*>(signingCert);
  while (path.size() < kMaxChainLength && !SelfIssued(current)) {
    X509* issuer = nullptr;
    for (const X509Ptr& candidate : candidates) {
      if (X509_check_issued(candidate.get(), current) != X509_V_OK) continue;
      if (seen.count(CertDer(candidate.get()))) continue;
      issuer = candidate.get();
      break;
    }
    if (!issuer) {
      X509Ptr stored = IssuerInStore(trust, current);
      if (!stored || seen.count(CertDer(stored.get()))) break;
      issuer = stored.get();
      candidates.push_back(std::move(stored));
    }
    seen.insert(CertDer(issuer));
    path.push_back(MakeChainCert(issuer));
    current = issuer;
  }
  if (path.size() > chain.size() || (!path.empty() && SelfIssued(current))) chain = std::move(path);
}

bool ChainReachesTrustedRoot(const X509* signingCert, const ChainList& chain) {
  if (!signingCert) return false;
  X509StorePtr trust = BuildDefaultTrustStore();
  CertStackPtr untrusted(sk_X509_new_null());
  for (const ChainCert& entry : chain)
    if (X509Ptr cert = Decode(entry.encoded)) sk_X509_push(untrusted.get(), cert.release());
  std::unique_ptr<X509_STORE_CTX, StoreCtxFree> ctx(X509_STORE_CTX_new());
  if (!ctx || !trust ||
      X509_STORE_CTX_init(ctx.get(), trust.get(), const_cast<X509*>(signingCert),
                          untrusted.get()) != 1)
    return false;
  X509_STORE_CTX_set_flags(ctx.get(), X509_V_FLAG_NO_CHECK_TIME);
  X509_STORE_CTX_set_purpose(ctx.get(), X509_PURPOSE_ANY);
  return X509_verify_cert(ctx.get()) == 1;
}

}  // namespace corvane
