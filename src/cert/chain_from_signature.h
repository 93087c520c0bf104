// The chain of a store certificate, as the signing service's add-chain policy puts it into a
// probe signature: built from the store's own certificates, the user's intermediate store
// and the trust store, then read back from the signature in message order.
#pragma once

#include <vector>

#include "cert/chain.h"
#include "crypto/openssl_ptr.h"

namespace corvane {

// The issuers the add-chain policy would add for `cert`, nearest first; as far as they are
// found, whether or not they end in a trusted root.
std::vector<X509Ptr> AddChainCertificates(X509* cert, const std::vector<X509Ptr>& storeCerts);

// Signs the probe cabinet with the chain policy and no timestamp, lists the signature's
// certificates, then orders them. Any failure of the probe signature is raised as it is.
void ChainFromSignature(ChainList& chain, X509* cert, EVP_PKEY* key,
                        const std::vector<X509Ptr>& storeCerts);

}  // namespace corvane
