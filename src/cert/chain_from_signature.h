// The chain of a store certificate, as the signing service's add-chain policy puts it into a
// signature: built from the store's own certificates, the user's intermediate store and the
// trust store, in the signature's certificate order.
#pragma once

#include <vector>

#include "cert/chain.h"
#include "crypto/openssl_ptr.h"

namespace corvane {

// The issuers the add-chain policy would add for `cert`, nearest first; as far as they are
// found, whether or not they end in a trusted root.
std::vector<X509Ptr> AddChainCertificates(X509* cert, const std::vector<X509Ptr>& storeCerts);

// Lists the certificates a signature with the chain policy would carry (the certificate
// itself, then AddChainCertificates), then orders them.
void ChainFromSignature(ChainList& chain, X509* cert, const std::vector<X509Ptr>& storeCerts);

}  // namespace corvane
