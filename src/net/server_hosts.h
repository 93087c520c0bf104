// Where the four servers live. Each value has a compiled-in default that the environment
// can override (read at every call) and that a setter overrides in turn:
//
//   timestamp host    CORVANECODE_TIMESTAMP_HOST  timestamp.corvane.example
//   reputation host   CORVANECODE_SCAN_HOST       scan.corvane.example
//   download base     CORVANECODE_DOWNLOAD_URL    https://www.corvane.example/download/
//   log server        CORVANECODE_LOG_URL         https://log.corvane.example/ReceiveFeedbackServer
//   HTTPS CA bundle   CORVANECODE_CA_BUNDLE       empty: the system's trust store
//
// A host may carry ":port". An empty environment variable counts as unset.
#pragma once

#include <string>

namespace corvane {

inline constexpr const char* kTimestampHostVariable = "CORVANECODE_TIMESTAMP_HOST";
inline constexpr const char* kScanHostVariable = "CORVANECODE_SCAN_HOST";
inline constexpr const char* kDownloadUrlVariable = "CORVANECODE_DOWNLOAD_URL";
inline constexpr const char* kLogUrlVariable = "CORVANECODE_LOG_URL";
inline constexpr const char* kCaBundleVariable = "CORVANECODE_CA_BUNDLE";

std::string TimestampHost();
std::string ScanHost();
std::string DownloadBaseUrl();
std::string LogServerUrl();
// The CA bundle HTTPS peers are verified against; empty for the system's trust store.
std::string CaBundlePath();

// Full URLs built from the values above.
std::string TimestampUrl();                            // http://HOST/timestamp
std::string Rfc3161Url();                              // http://HOST/rfc3161
std::string ScanUrl();                                 // http://HOST/fileinfo_service.php
std::string DownloadUrl(const std::string& fileName);  // download base + fileName

// Overrides that win over the environment; an empty value is a value too (an empty CA
// bundle means the system's store even when the environment names one).
void SetTimestampHost(std::string host);
void SetScanHost(std::string host);
void SetDownloadBaseUrl(std::string url);
void SetLogServerUrl(std::string url);
void SetCaBundlePath(std::string path);

// Drops every override made by the setters.
void ClearServerOverrides();

}  // namespace corvane
