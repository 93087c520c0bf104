#include "net/server_hosts.h"

#include <cstdlib>
#include <mutex>
#include <optional>

namespace corvane {
namespace {

enum Setting { kTimestampHost, kScanHost, kUpdateHost, kLogHost, kCaBundle, kSettingCount };

struct SettingInfo {
  const char* variable;
  const char* fallback;
};

constexpr SettingInfo kSettings[kSettingCount] = {
    {kTimestampHostVariable, "timestamp.corvane.example"},
    {kScanHostVariable, "scan.corvane.example"},
    {kUpdateHostVariable, "www.corvane.example"},
    {kLogHostVariable, "log.corvane.example"},
    {kCaBundleVariable, ""},
};

std::mutex overridesMutex;
std::optional<std::string> overrides[kSettingCount];
std::string savedTimestampHosts;  // the user's setting: below the environment

std::string Value(Setting setting) {
  {
    std::lock_guard<std::mutex> lock(overridesMutex);
    if (overrides[setting]) return *overrides[setting];
  }
  const char* fromEnvironment = std::getenv(kSettings[setting].variable);
  if (fromEnvironment && *fromEnvironment) return fromEnvironment;
  if (setting == kTimestampHost) {
    std::lock_guard<std::mutex> lock(overridesMutex);
    if (!savedTimestampHosts.empty()) return savedTimestampHosts;
  }
  return kSettings[setting].fallback;
}

void Override(Setting setting, std::string value) {
  std::lock_guard<std::mutex> lock(overridesMutex);
  overrides[setting] = std::move(value);
}

}  // namespace

std::vector<std::string> SplitHostList(std::string_view text) {
  std::vector<std::string> hosts;
  std::string current;
  for (char c : std::string(text) + ",") {
    if (c == ',' || c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (!current.empty()) hosts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  return hosts;
}

std::vector<std::string> TimestampHosts() {
  std::vector<std::string> hosts = SplitHostList(Value(kTimestampHost));
  if (hosts.empty()) hosts.push_back(kSettings[kTimestampHost].fallback);
  return hosts;
}

bool TimestampHostsFromEnvironment() {
  const char* fromEnvironment = std::getenv(kTimestampHostVariable);
  return fromEnvironment && *fromEnvironment;
}

std::string TimestampHost() { return TimestampHosts().front(); }
std::string ScanHost() { return Value(kScanHost); }
std::string UpdateHost() { return Value(kUpdateHost); }
std::string LogHost() { return Value(kLogHost); }
std::string CaBundlePath() { return Value(kCaBundle); }

std::string TimestampUrlOf(const std::string& host) { return "http://" + host + "/timestamp"; }
std::string Rfc3161UrlOf(const std::string& host) { return "http://" + host + "/rfc3161"; }
std::string TimestampUrl() { return TimestampUrlOf(TimestampHost()); }
std::string Rfc3161Url() { return Rfc3161UrlOf(TimestampHost()); }
std::string ScanUrl() { return "http://" + ScanHost() + "/fileinfo_service.php"; }

std::string DownloadUrl(const std::string& fileName) {
  return "https://" + UpdateHost() + "/download/" + fileName;
}
std::string LogServerUrl() { return "https://" + LogHost() + "/ReceiveFeedbackServer"; }

void SetTimestampHost(std::string host) { Override(kTimestampHost, std::move(host)); }
void SetTimestampHosts(const std::vector<std::string>& hosts) {
  std::string list;
  for (const std::string& host : hosts) list += (list.empty() ? "" : ",") + host;
  Override(kTimestampHost, std::move(list));
}
void SetSavedTimestampHosts(const std::vector<std::string>& hosts) {
  std::string list;
  for (const std::string& host : hosts) list += (list.empty() ? "" : ",") + host;
  std::lock_guard<std::mutex> lock(overridesMutex);
  savedTimestampHosts = std::move(list);
}
void SetScanHost(std::string host) { Override(kScanHost, std::move(host)); }
void SetUpdateHost(std::string host) { Override(kUpdateHost, std::move(host)); }
void SetLogHost(std::string host) { Override(kLogHost, std::move(host)); }
void SetCaBundlePath(std::string path) { Override(kCaBundle, std::move(path)); }

void ClearServerOverrides() {
  std::lock_guard<std::mutex> lock(overridesMutex);
  for (auto& value : overrides) value.reset();
  savedTimestampHosts.clear();
}

}  // namespace corvane
