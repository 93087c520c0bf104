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
std::string UpdateHost() { return Value(kUpdateHost); }
std::string LogHost() { return Value(kLogHost); }
std::string CaBundlePath() { return Value(kCaBundle); }

std::string TimestampUrl() { return "http://" + TimestampHost() + "/timestamp"; }
std::string Rfc3161Url() { return "http://" + TimestampHost() + "/rfc3161"; }
std::string ScanUrl() { return "http://" + ScanHost() + "/fileinfo_service.php"; }

std::string DownloadUrl(const std::string& fileName) {
  return "https://" + UpdateHost() + "/download/" + fileName;
}
std::string LogServerUrl() { return "https://" + LogHost() + "/ReceiveFeedbackServer"; }

void SetTimestampHost(std::string host) { Override(kTimestampHost, std::move(host)); }
void SetScanHost(std::string host) { Override(kScanHost, std::move(host)); }
void SetUpdateHost(std::string host) { Override(kUpdateHost, std::move(host)); }
void SetLogHost(std::string host) { Override(kLogHost, std::move(host)); }
void SetCaBundlePath(std::string path) { Override(kCaBundle, std::move(path)); }

void ClearServerOverrides() {
  std::lock_guard<std::mutex> lock(overridesMutex);
  for (auto& value : overrides) value.reset();
}

}  // namespace corvane
