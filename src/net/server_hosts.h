// Where the four servers live. Each value has a compiled-in default that the environment
// can override (read at every call) and that a setter overrides in turn:
//
//   timestamp host    CORVANECODE_TIMESTAMP_HOST  timestamp.corvane.example
//   reputation host   CORVANECODE_SCAN_HOST       scan.corvane.example
//   download host     CORVANECODE_UPDATE_HOST     www.corvane.example
//   log server host   CORVANECODE_LOG_HOST        log.corvane.example
//   HTTPS CA bundle   CORVANECODE_CA_BUNDLE       empty: the system's trust store
//
// The timestamp host is a list: several hosts separated by commas or white space, tried in
// order (TimestampHosts()); the user's saved setting of that list stands between the
// environment and the default. The other values are single hosts. A host may carry ":port"; schemes
// and paths are fixed (plain HTTP for the timestamp and reputation services, HTTPS for the download
// and log servers). An empty environment variable counts as unset.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvane {

inline constexpr const char* kTimestampHostVariable = "CORVANECODE_TIMESTAMP_HOST";
inline constexpr const char* kScanHostVariable = "CORVANECODE_SCAN_HOST";
inline constexpr const char* kUpdateHostVariable = "CORVANECODE_UPDATE_HOST";
inline constexpr const char* kLogHostVariable = "CORVANECODE_LOG_HOST";
inline constexpr const char* kCaBundleVariable = "CORVANECODE_CA_BUNDLE";

// Hosts separated by commas or white space, in order; empty parts dropped.
std::vector<std::string> SplitHostList(std::string_view text);
// True when the environment names the timestamp hosts (and so wins over the saved setting).
bool TimestampHostsFromEnvironment();

// The first timestamp host of the list.
std::string TimestampHost();
// Every timestamp host, in the order given; never empty.
std::vector<std::string> TimestampHosts();
std::string ScanHost();
std::string UpdateHost();
std::string LogHost();
// The CA bundle HTTPS peers are verified against; empty for the system's trust store.
std::string CaBundlePath();

// Full URLs built from the values above.
std::string TimestampUrl();                            // http://HOST/timestamp
std::string Rfc3161Url();                              // http://HOST/rfc3161
std::string TimestampUrlOf(const std::string& host);   // http://host/timestamp
std::string Rfc3161UrlOf(const std::string& host);     // http://host/rfc3161
std::string ScanUrl();                                 // http://HOST/fileinfo_service.php
std::string DownloadUrl(const std::string& fileName);  // https://HOST/download/<fileName>
std::string LogServerUrl();                            // https://HOST/ReceiveFeedbackServer

// Overrides that win over the environment; an empty value is a value too (an empty CA
// bundle means the system's store even when the environment names one).
void SetTimestampHost(std::string host);
void SetTimestampHosts(const std::vector<std::string>& hosts);
// The user's saved list (empty: none), used when neither a setter nor the environment says.
void SetSavedTimestampHosts(const std::vector<std::string>& hosts);
void SetScanHost(std::string host);
void SetUpdateHost(std::string host);
void SetLogHost(std::string host);
void SetCaBundlePath(std::string path);

// Drops every override made by the setters, and the saved list.
void ClearServerOverrides();

}  // namespace corvane
