#include "net/communicator.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "base/file_publish.h"
#include "base/paths.h"
#include "base/sibling_file.h"
#include "base/status.h"
#include "base/worker_registry.h"
#include "net/curl_library.h"
#include "net/server_hosts.h"

namespace corvane {
namespace {

constexpr const char* kPostUserAgent = "rur_avede-0.1.0-windows08.x86_64";
constexpr long kPostTimeLimitSeconds = 60;

#ifdef CURL_WRITEFUNC_ERROR
constexpr size_t kWriteError = CURL_WRITEFUNC_ERROR;
#else
constexpr size_t kWriteError = 0;
#endif

// One transfer on the wire at a time, across every operation and thread. Never destroyed,
// so a worker still transferring while the process exits finds it intact.
std::mutex& TransferMutex() {
  static auto* transferMutex = new std::mutex;
  return *transferMutex;
}

std::mutex& StopTokenMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}

std::stop_token& StopTokenOverride() {
  static auto* token = new std::stop_token;
  return *token;
}

thread_local std::optional<std::stop_token> threadStopToken;

std::stop_token TransferStopToken() {
  if (threadStopToken) return *threadStopToken;
  {
    std::lock_guard<std::mutex> lock(StopTokenMutex());
    if (StopTokenOverride().stop_possible()) return StopTokenOverride();
  }
  return Workers().StopToken();
}

// `limit`, capped by CORVANECODE_TRANSFER_TIME_LIMIT when that is set.
long LimitMs(std::chrono::milliseconds limit) {
  long ms = static_cast<long>(limit.count());
  if (const char* cap = std::getenv(kTransferTimeLimitVariable); cap && *cap) {
    char* end = nullptr;
    const double seconds = std::strtod(cap, &end);
    if (end != cap && seconds > 0)
      ms = std::min(ms, std::max(1L, static_cast<long>(seconds * 1000)));
  }
  return std::max(1L, ms);
}

int StopRequested(void* token, curl_off_t, curl_off_t, curl_off_t, curl_off_t) noexcept {
  return static_cast<std::stop_token*>(token)->stop_requested() ? 1 : 0;
}

// The share's locks, one per kind of data it holds; never destroyed either.
std::mutex& ShareLock(curl_lock_data data) {
  static auto* locks = new std::mutex[CURL_LOCK_DATA_LAST];
  return locks[data];
}

void LockShare(CURL*, curl_lock_data data, curl_lock_access, void*) { ShareLock(data).lock(); }
void UnlockShare(CURL*, curl_lock_data data, void*) { ShareLock(data).unlock(); }

// What every transfer of the process shares: open connections, name lookups and TLS sessions.
// Signing many files then talks to the timestamp server over one kept-alive connection instead
// of opening one per file. Never destroyed, like the mutex above.
CURLSH* SharedState(const CurlLibrary& curl) {
  static CURLSH* const share = [&curl]() -> CURLSH* {
    CURLSH* made = curl.share_init();
    if (!made) return nullptr;
    bool ok = curl.share_setopt(made, CURLSHOPT_LOCKFUNC, &LockShare) == CURLSHE_OK &&
              curl.share_setopt(made, CURLSHOPT_UNLOCKFUNC, &UnlockShare) == CURLSHE_OK;
    for (curl_lock_data data :
         {CURL_LOCK_DATA_CONNECT, CURL_LOCK_DATA_DNS, CURL_LOCK_DATA_SSL_SESSION})
      ok = ok && curl.share_setopt(made, CURLSHOPT_SHARE, data) == CURLSHE_OK;
    return ok ? made : nullptr;
  }();
  return share;
}

struct SlistFree {
  void operator()(curl_slist* list) const { Curl()->slist_free_all(list); }
};

struct EasyCleanup {
  void operator()(CURL* handle) const { Curl()->easy_cleanup(handle); }
};

// One easy handle with the options every operation shares. An option the library refuses
// marks the transfer as unusable instead of letting it run with a different setup.
class Transfer {
 public:
  explicit Transfer(const std::string& url) {
    curl_ = Curl();
    if (curl_) handle_.reset(curl_->easy_init());
    ok_ = handle_ != nullptr;
    if (ok_) {
      if (CURLSH* share = SharedState(*curl_)) Set(CURLOPT_SHARE, share);
    }
    Set(CURLOPT_URL, url.c_str());
    Set(CURLOPT_FOLLOWLOCATION, 0L);
    Set(CURLOPT_SSL_VERIFYPEER, 1L);
    Set(CURLOPT_SSL_VERIFYHOST, 2L);
    const std::string caBundle = CaBundlePath();
    if (!caBundle.empty()) Set(CURLOPT_CAINFO, caBundle.c_str());
    Set(CURLOPT_NOSIGNAL, 1L);
    Set(CURLOPT_NOPROGRESS, 0L);
    Set(CURLOPT_XFERINFOFUNCTION, &StopRequested);
    Set(CURLOPT_XFERINFODATA, &stop_);
    SetTimeLimit(kConnectTimeLimit);
  }

  // The total limit, and the connect limit: `connect`, or the smaller of the total limit and
  // kConnectTimeLimit.
  void SetTimeLimit(std::chrono::milliseconds total, std::chrono::milliseconds connect = {}) {
    if (connect.count() <= 0)
      connect = std::min<std::chrono::milliseconds>(total, kConnectTimeLimit);
    Set(CURLOPT_TIMEOUT_MS, LimitMs(total));
    Set(CURLOPT_CONNECTTIMEOUT_MS, LimitMs(connect));
  }

  template <typename Value>
  void Set(CURLoption option, Value value) {
    if (ok_ && curl_->easy_setopt(handle_.get(), option, value) != CURLE_OK) ok_ = false;
  }

  bool ok() const { return ok_; }

  // Runs the transfer under the process-wide lock, which covers nothing else.
  CURLcode Perform() {
    if (!ok_) return CURLE_FAILED_INIT;
    if (stop_.stop_requested()) return CURLE_ABORTED_BY_CALLBACK;
    std::lock_guard<std::mutex> lock(TransferMutex());
    return curl_->easy_perform(handle_.get());
  }

  TransferOutcome PerformWithOutcome() {
    TransferOutcome outcome;
    const CURLcode code = Perform();
    outcome.completed = code == CURLE_OK;
    outcome.timedOut = code == CURLE_OPERATION_TIMEDOUT;
    outcome.cancelled = code == CURLE_ABORTED_BY_CALLBACK;
    if (handle_) curl_->easy_getinfo(handle_.get(), CURLINFO_RESPONSE_CODE, &outcome.httpStatus);
    return outcome;
  }

 private:
  const CurlLibrary* curl_ = nullptr;
  std::unique_ptr<CURL, EasyCleanup> handle_;
  bool ok_ = false;
  std::stop_token stop_ = TransferStopToken();
};

void SetPostBody(Transfer& transfer, const std::string& body) {
  transfer.Set(CURLOPT_POST, 1L);
  // The explicit length lets zero bytes through; the body outlives the transfer.
  transfer.Set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  transfer.Set(CURLOPT_POSTFIELDS, body.data());
}

size_t AppendToString(char* data, size_t size, size_t count, void* target) noexcept {
  if (!data || !target) return kWriteError;
  const size_t length = size * count;
  try {
    static_cast<std::string*>(target)->append(data, length);
  } catch (...) {
    return kWriteError;
  }
  return length;
}

size_t WriteToFile(char* data, size_t size, size_t count, void* target) noexcept {
  if (!data || !target) return kWriteError;
  const size_t length = size * count;
  const int fd = static_cast<SiblingFile*>(target)->descriptor();
  if (!WriteAll(fd, std::string_view(data, length))) return kWriteError;
  return length;
}

size_t Discard(char*, size_t size, size_t count, void*) noexcept { return size * count; }

// The download goes to a hidden file beside the destination (removed on every path that does
// not end in its commit), with the mode the destination has or would get.
bool DownloadToFile(const std::string& url, const std::string& destPath) {
  if (FileNameOf(destPath).empty()) return false;
  struct stat existing;
  const bool replacing = ::stat(destPath.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
  SiblingFile part;
  if (!part.Create(destPath, replacing ? (existing.st_mode & 07777) : NewFileMode())) return false;

  Transfer transfer(url);
  transfer.Set(CURLOPT_HTTPGET, 1L);
  transfer.Set(CURLOPT_WRITEFUNCTION, &WriteToFile);
  transfer.Set(CURLOPT_WRITEDATA, &part);
  transfer.SetTimeLimit(kDownloadTimeLimit);
  if (transfer.Perform() != CURLE_OK) return false;
  return part.Commit(/*sync=*/true);
}

}  // namespace

CCommunicator::CCommunicator(std::string serverUrl) : serverUrl_(std::move(serverUrl)) {}

std::string CCommunicator::Post(const std::string& body) const {
  try {
    std::string received;
    Transfer transfer(serverUrl_);
    SetPostBody(transfer, body);
    transfer.Set(CURLOPT_WRITEFUNCTION, &AppendToString);
    transfer.Set(CURLOPT_WRITEDATA, &received);
    transfer.SetTimeLimit(std::chrono::seconds(kPostTimeLimitSeconds));
    transfer.Set(CURLOPT_USERAGENT, kPostUserAgent);
    if (!transfer.ok()) RaiseStatus(StatusCode::CommunicationFailed);

    // The library's verdict is not consulted: a failed transfer delivers no "{" and a
    // transfer cut short after its "{" still yields what arrived.
    transfer.Perform();
    const size_t brace = received.find('{');
    if (brace == std::string::npos) RaiseStatus(StatusCode::CommunicationFailed);
    return received.substr(brace);
  } catch (...) {
    throw ExceptionEx(StatusCode::CommunicationFailed);
  }
}

void CCommunicator::Download(const std::string& url, const std::string& destPath) {
  bool downloaded = false;
  try {
    downloaded = DownloadToFile(url, destPath);
  } catch (...) {
  }
  if (!downloaded) RaiseStatus("%s, file path: %s", "CCommunicator::Download", destPath.c_str());
}

bool CCommunicator::PostRaw(const std::string& url, const std::string& body, long timeLimitSeconds,
                            std::string& response) noexcept {
  return PostRaw(url, body, timeLimitSeconds, {}, response);
}

bool CCommunicator::PostRaw(const std::string& url, const std::string& body, long timeLimitSeconds,
                            const std::vector<std::string>& headerLines,
                            std::string& response) noexcept {
  return PostRawWithOutcome(url, body, std::chrono::seconds(timeLimitSeconds), headerLines,
                            response)
      .completed;
}

TransferOutcome CCommunicator::PostRawWithOutcome(const std::string& url, const std::string& body,
                                                  std::chrono::milliseconds timeLimit,
                                                  const std::vector<std::string>& headerLines,
                                                  std::string& response) noexcept {
  try {
    if (!Curl()) return {};
    Transfer transfer(url);
    SetPostBody(transfer, body);
    // The list must outlive the transfer; the library keeps only the pointer.
    std::unique_ptr<curl_slist, SlistFree> headers;
    for (const std::string& line : headerLines) {
      curl_slist* extended = Curl()->slist_append(headers.get(), line.c_str());
      if (!extended) return {};
      headers.release();
      headers.reset(extended);
    }
    if (headers) transfer.Set(CURLOPT_HTTPHEADER, headers.get());
    transfer.Set(CURLOPT_WRITEFUNCTION, &AppendToString);
    transfer.Set(CURLOPT_WRITEDATA, &response);
    transfer.SetTimeLimit(timeLimit, timeLimit);
    return transfer.PerformWithOutcome();
  } catch (...) {
    return {};
  }
}

bool CCommunicator::Probe(const std::string& url) noexcept {
  try {
    Transfer transfer(url);
    transfer.Set(CURLOPT_HTTPGET, 1L);
    transfer.Set(CURLOPT_WRITEFUNCTION, &Discard);
    transfer.SetTimeLimit(kProbeTimeLimit);
    return transfer.Perform() == CURLE_OK;
  } catch (...) {
    return false;
  }
}

void CCommunicator::SetStopToken(std::stop_token token) {
  std::lock_guard<std::mutex> lock(StopTokenMutex());
  StopTokenOverride() = std::move(token);
}

TransferStopScope::TransferStopScope(std::stop_token token) : previous_(threadStopToken) {
  threadStopToken = std::move(token);
}

TransferStopScope::~TransferStopScope() { threadStopToken = previous_; }

}  // namespace corvane
