// Result codes of the signing service, as the platform reports them. Zero is success; the
// sign step maps the ones it knows to status texts.
#pragma once

#include <cstdint>

namespace corvane {

inline constexpr std::uint32_t kSignOk = 0;
inline constexpr std::uint32_t kTrustSubjectFormUnknown = 0x800B0003;
inline constexpr std::uint32_t kErrorBadExeFormat = 0x800700C1;
inline constexpr std::uint32_t kSmartCardCancelledByUser = 0x8010006E;
inline constexpr std::uint32_t kErrorCancelled = 0x800704C7;
inline constexpr std::uint32_t kErrorSharingViolation = 0x80070020;
inline constexpr std::uint32_t kBadAlgorithm = 0x80090008;
inline constexpr std::uint32_t kKeyProviderFailure = 0x80090020;
inline constexpr std::uint32_t kGenericFailure = 0x80004005;

}  // namespace corvane
