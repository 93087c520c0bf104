#include "net/server_hosts.h"

#include <cstdlib>
#include <mutex>
#include <optional>

namespace corvane {
namespace {

enum Setting { kTimestampHost, kScanHost, kDownloadBase, kLogServer, kCaBundle, kSettingCount };

struct SettingInfo {
  const char* variable;
  const char* fallback;
};

constexpr SettingInfo kSettings[kSettingCount] = {
    {kTimestampHostVariable, "timestamp.corvane.example"},
    {kScanHostVariable, "scan.corvane.example"},
    {kDownloadUrlVariable, "https://www.corvane.example/download/"},
    {kLogUrlVariable, "https://log.corvane.example/ReceiveFeedbackServer"},
    {kCaBundleVariable, ""},
};

std::mutex overridesMutex;
std::optional<std::string> overrides[kSettingCount];

std::string Value(Setting setting) {
  {
    std::lock_guard<std::mutex> lock(overridesMutex);
    if (overrides[setting]) return *overrides[setting];
  }
  const char* fromEnvironment = std::getenv(kSettings[setting].variable);
  if (fromEnvironment && *fromEnvironment) return fromEnvironment;
  return kSettings[setting].fallback;
}

void Override(Setting setting, std::string value) {
  std::lock_guard<std::mutex> lock(overridesMutex);
  overrides[setting] = std::move(value);
}

}  // namespace

std::string TimestampHost() { return Value(kTimestampHost); }
std::string ScanHost() { return Value(kScanHost); }
std::string DownloadBaseUrl() { return Value(kDownloadBase); }
std::string LogServerUrl() { return Value(kLogServer); }
std::string CaBundlePath() { return Value(kCaBundle); }

std::string TimestampUrl() { return "http://" + TimestampHost() + "/timestamp"; }
std::string Rfc3161Url() { return "http://" + TimestampHost() + "/rfc3161"; }
std::string ScanUrl() { return "http://" + ScanHost() + "/fileinfo_service.php"; }

std::string DownloadUrl(const std::string& fileName) {
  std::string url = DownloadBaseUrl();
  if (!url.empty() && url.back() != '/') url += '/';
  return url + fileName;
}

void SetTimestampHost(std::string host) { Override(kTimestampHost, std::move(host)); }
void SetScanHost(std::string host) { Override(kScanHost, std::move(host)); }
void SetDownloadBaseUrl(std::string url) { Override(kDownloadBase, std::move(url)); }
void SetLogServerUrl(std::string url) { Override(kLogServer, std::move(url)); }
void SetCaBundlePath(std::string path) { Override(kCaBundle, std::move(path)); }

void ClearServerOverrides() {
  std::lock_guard<std::mutex> lock(overridesMutex);
  for (auto& value : overrides) value.reset();
}

}  // namespace corvane
