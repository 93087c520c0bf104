// Completing the chain list from every certificate this machine knows. The chain builders keep
// only a path that ends in a root; when the root is missing they leave nothing, and a signature
// would then carry the signing certificate alone, which no verifier can link to its issuer.
// Here the list is rebuilt from the source's own certificates (the PFX file's, the tokens'),
// the user's intermediate store and the trust store, issuer by issuer (name and key), up to the
// last certificate found.
#pragma once

#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <vector>

#include "cert/chain.h"
#include "crypto/openssl_ptr.h"

namespace corvane {

// The language key of the warning shown when the chain does not reach a trusted root.
inline constexpr char kChainNotTrustedKey[] = "UiTipChainNotTrusted";

// `sourceCertificates` followed by the certificates of the intermediate store.
std::vector<X509Ptr> KnownChainCertificates(const std::vector<X509Ptr>& sourceCertificates);

// Leaves a list that ends in a self-issued certificate as it is; otherwise replaces it with the
// longest issuer path from `signingCert` through the list's own entries, `known` and then
// `trust` (searched by issuer name), when that path is longer. Never raises; a certificate met
// twice ends the walk.
void CompleteChain(ChainList& chain, const X509* signingCert, const std::vector<X509Ptr>& known,
                   X509_STORE* trust);

// True when `signingCert` with `chain` verifies up to a root of the trust store (times and
// usages are not looked at here: other checks report them).
bool ChainReachesTrustedRoot(const X509* signingCert, const ChainList& chain);

}  // namespace corvane
