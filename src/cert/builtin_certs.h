// The authority's certificates compiled into the program.
#pragma once

#include "crypto/openssl_ptr.h"

namespace corvane {

enum BuiltinCertId : int {
  kRootASelfSigned = 138,
  kRootAKernelCross = 139,  // root A issued by the kernel code-verification root
  kRootBSelfSigned = 145,
  kRootBKernelCross = 146,    // root B issued by the kernel code-verification root
  kRootACrossSigned = 148,    // root A issued by the partner root
  kRootBCrossSigned = 149,    // root B issued by the partner root
  kPartnerKernelCross = 150,  // partner root issued by the kernel code-verification root
};

// Raises "undefined" when the resource is missing, empty or no certificate.
X509Ptr LoadBuiltinCert(int id);

}  // namespace corvane
