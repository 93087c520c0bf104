// The cloud file-reputation service: a file is named to it by its MD5 digest in a signed
// query over plain HTTP, and the reported level decides whether it may be signed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace corvane {

inline constexpr const char* kScanAppId = "3f0c9a1be27d4c86";
inline constexpr const char* kScanSigningKey = "7c2e91d04ab35f6e8d1a0c47b9e2f513";
inline constexpr const char* kScanProtocolVersion = "1.0";
inline constexpr unsigned kMaliciousLevel = 70;
// Connect and total limit of every query. Seconds: a silent service costs a run this long
// once, in its reachability check, and each file's query at most as long again.
inline constexpr long kScanTimeLimitSeconds = 3;

// The clock and the random numbers a query is built from; the defaults read the system
// clock and a random source, tests fix both to get known bytes.
struct ScanEntropy {
  std::function<std::uint32_t()> unixSeconds;  // low 32 bits of the current Unix time
  std::function<int()> random;                 // 0 to 32767, one call per use
};
ScanEntropy SystemScanEntropy();

// The whole request body for the digest text `q` (32 hex digits and two TABs): the 6-byte
// header with `headerRandom`, then the key=value lines in key order and the signature.
std::string BuildScanQuery(const std::string& q, std::uint32_t unixSeconds, int nonceRandom,
                           int headerRandom);

// The signature of the parameter values in key order: the last 16 hex digits of the MD5 of
// their concatenation followed by the signing key.
std::string ScanQuerySignature(const std::string& appid, const std::string& nonce,
                               const std::string& q, const std::string& timestamp,
                               const std::string& v);

// The level an answer reports: parsed from its first "{" through its last "}". 0 for an
// answer that is not JSON or whose "status" is not "0"; throws std::out_of_range for an
// answer without "{" and for an "md5s" of fewer than two TAB-separated fields.
unsigned ParseScanAnswer(std::string_view answer);

// The level the service reports for `digest`, 0 when the exchange fails.
unsigned QueryFileLevel(const std::string& digest, long timeLimitSeconds,
                        const ScanEntropy& entropy = SystemScanEntropy());

// False for a malicious file (level 70 or more). Throws ExceptionEx "file not exist" for a
// missing file and "calc md5 failed" when the file cannot be digested or the service gives
// no level; std::out_of_range passes through from ParseScanAnswer.
bool IsFileClean(const std::string& path, long timeLimitSeconds);

// Whether a query for a fixed digest reaches the service and gets an answer (not read).
bool IsCloudReachable(long timeLimitSeconds, const ScanEntropy& entropy = SystemScanEntropy());

}  // namespace corvane
