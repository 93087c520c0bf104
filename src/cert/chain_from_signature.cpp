#include "cert/chain_from_signature.h"

#include <openssl/x509_vfy.h>

#include "crypto/trust_store.h"
#include "crypto/x509_names.h"

namespace corvane {
namespace {

struct StoreCtxFree {
  void operator()(X509_STORE_CTX* ctx) const { X509_STORE_CTX_free(ctx); }
};
struct CertStackFree {
  void operator()(STACK_OF(X509) * stack) const { sk_X509_pop_free(stack, X509_free); }
};
using CertStackPtr = std::unique_ptr<STACK_OF(X509), CertStackFree>;

// Keeps building past every error (untrusted root, expiry): the policy adds what it finds.
int BuildOn(int, X509_STORE_CTX*) { return 1; }

}  // namespace

std::vector<X509Ptr> AddChainCertificates(X509* cert, const std::vector<X509Ptr>& storeCerts) {
  X509StorePtr trust = BuildDefaultTrustStore();
  CertStackPtr untrusted(sk_X509_new_null());
  for (const X509Ptr& c : storeCerts) sk_X509_push(untrusted.get(), UpRef(c.get()).release());
  if (std::string dir = UserIntermediateDirectory(); !dir.empty()) {
    X509StorePtr intermediates = BuildTrustStore({dir});
    CertStackPtr all(X509_STORE_get1_all_certs(intermediates.get()));
    while (all && sk_X509_num(all.get()) > 0)
      sk_X509_push(untrusted.get(), sk_X509_shift(all.get()));
  }
  std::unique_ptr<X509_STORE_CTX, StoreCtxFree> ctx(X509_STORE_CTX_new());
  std::vector<X509Ptr> chain;
  if (!ctx || X509_STORE_CTX_init(ctx.get(), trust.get(), cert, untrusted.get()) != 1) return chain;
  X509_STORE_CTX_set_verify_cb(ctx.get(), BuildOn);
  X509_STORE_CTX_set_flags(ctx.get(), X509_V_FLAG_NO_CHECK_TIME);
  X509_verify_cert(ctx.get());
  CertStackPtr built(X509_STORE_CTX_get1_chain(ctx.get()));
  for (int i = 1; built && i < sk_X509_num(built.get()); ++i)
    chain.push_back(UpRef(sk_X509_value(built.get(), i)));
  return chain;
}

void ChainFromSignature(ChainList& chain, X509* cert, const std::vector<X509Ptr>& storeCerts) {
  chain.clear();
  // The certificates a signature made with the chain policy carries, in message order: the
  // signing certificate, then the issuers the policy adds. Building them directly gives the
  // same list without signing anything.
  chain.push_back(MakeChainCert(cert));
  for (const X509Ptr& issuer : AddChainCertificates(cert, storeCerts))
    chain.push_back(MakeChainCert(issuer.get()));
  OrderChain(chain, IssuerDisplayName(cert), SubjectDisplayName(cert));
}

}  // namespace corvane
