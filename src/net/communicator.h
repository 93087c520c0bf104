// The program's only HTTP(S) client: four complete transfers on libcurl's easy interface.
//
// Every transfer of every operation runs under one process-wide lock, so at most one
// request is on the wire at any moment. Redirects are not followed, no header of our own
// is added unless a caller of PostRaw passes some, and the HTTP status is never looked at:
// an error page is a response body like any other. HTTPS peers are verified against the
// system's trust store, or against the bundle named by CaBundlePath() (server_hosts.h) when
// one is configured. Open connections are kept and reused by later transfers to the same
// server, for as long as the server keeps them open.
//
// Every transfer has a connect time limit and a total time limit, and ends early when the
// stop request is set (the registry's StopToken(), unless SetStopToken names another one).
// CORVANECODE_TRANSFER_TIME_LIMIT (seconds, fractions allowed) caps both limits of every
// transfer, for slow-network tests and for users who would rather fail fast.
#pragma once

#include <chrono>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace corvane {

inline constexpr const char* kTransferTimeLimitVariable = "CORVANECODE_TRANSFER_TIME_LIMIT";

// The limits of the transfers that have no caller-chosen one.
inline constexpr std::chrono::seconds kConnectTimeLimit{10};
inline constexpr std::chrono::seconds kProbeTimeLimit{20};
inline constexpr std::chrono::seconds kDownloadTimeLimit{600};

// How a transfer ended, for callers that retry.
struct TransferOutcome {
  bool completed = false;  // the library reported success (whatever the HTTP status)
  bool timedOut = false;   // a time limit ended it
  bool cancelled = false;  // the stop request ended it
  long httpStatus = 0;     // 0 when no answer arrived
};

class CCommunicator {
 public:
  explicit CCommunicator(std::string serverUrl);

  const std::string& serverUrl() const { return serverUrl_; }

  // POSTs `body` (any bytes, its full length) to the server URL with a 60 s limit (connect:
  // kConnectTimeLimit) and
  // returns the received text from its first "{" to the end. Throws ExceptionEx
  // "communication failed" for every failure, including a response without "{".
  std::string Post(const std::string& body) const;

  // GETs `url` into the file `destPath`, within kDownloadTimeLimit. The body lands in a
  // temporary file beside the destination that replaces it only once the transfer
  // succeeded; on failure the destination is left as it was. Throws ExceptionEx
  // "CCommunicator::Download, file path: <destPath>".
  static void Download(const std::string& url, const std::string& destPath);

  // POSTs `body` to `url` with connect and total limits of `timeLimitSeconds`, appending
  // whatever arrives to `response` (also on failure). Returns whether the transfer
  // completed. Never throws.
  static bool PostRaw(const std::string& url, const std::string& body, long timeLimitSeconds,
                      std::string& response) noexcept;
  // The same with `headerLines` ("Name: value" each) added to the request; a line naming a
  // header the library would send itself, such as Content-Type, replaces it.
  static bool PostRaw(const std::string& url, const std::string& body, long timeLimitSeconds,
                      const std::vector<std::string>& headerLines, std::string& response) noexcept;

  // The same with a limit in milliseconds, telling how the transfer ended.
  static TransferOutcome PostRawWithOutcome(const std::string& url, const std::string& body,
                                            std::chrono::milliseconds timeLimit,
                                            const std::vector<std::string>& headerLines,
                                            std::string& response) noexcept;

  // GETs `url` within kProbeTimeLimit and discards the answer. True only when the transfer
  // completed. Never throws.
  static bool Probe(const std::string& url) noexcept;

  // The stop request every later transfer of the process takes; a token without a stop
  // state (std::stop_token{}) goes back to the registry's.
  static void SetStopToken(std::stop_token token);

 private:
  std::string serverUrl_;
};

// Within its scope, the transfers this thread makes take `token` instead of the program's stop
// request: the update downloads the new release after it asked every worker to stop.
class TransferStopScope {
 public:
  explicit TransferStopScope(std::stop_token token);
  ~TransferStopScope();
  TransferStopScope(const TransferStopScope&) = delete;
  TransferStopScope& operator=(const TransferStopScope&) = delete;

 private:
  std::optional<std::stop_token> previous_;
};

}  // namespace corvane
