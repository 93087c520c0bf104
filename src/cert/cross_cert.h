// Kernel cross-certificates: a certificate for the signer's root, issued by the kernel
// code-verification root, that a kernel-mode signature must carry.
#pragma once

#include <string>

#include "cert/chain.h"

namespace corvane {

inline constexpr char kKernelRootName[] = "Microsoft Code Verification Root";

// True when the file holds a certificate issued by the kernel root whose subject is the
// issuer of a chain entry and whose key identifier is that entry's. Every failure is false.
bool MatchCrossCert(const std::string& path, const ChainList& chain);

// What choosing a cross-certificate file says: empty when the file is accepted, otherwise
// the language key of the refusal (TipSelCrossCert, TipNotExistCrossCert,
// TipIncompVerifyInfo, TipCertNotMatch).
std::string CheckCrossCertChoice(const std::string& path, const ChainList& chain);

}  // namespace corvane
