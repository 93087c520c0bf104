#include "net/cloud_scan.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

#include "base/status.h"
#include "net/communicator.h"
#include "net/json_body.h"
#include "net/md5_digest.h"
#include "net/server_hosts.h"

namespace corvane {
namespace {

// The reachability check's digest; the answer to it is never read.
constexpr const char* kProbeDigest = "9e107d9d372bb6826bd81d3542a419d6";
constexpr const char* kCalcMd5Failed = "calc md5 failed";

std::string Last16(const std::string& hex) { return hex.size() > 16 ? hex.substr(16) : hex; }

std::string QueryFor(const std::string& digest) { return digest + "\t\t"; }

std::string BuildQuery(const std::string& q, const ScanEntropy& entropy) {
  const std::uint32_t now = entropy.unixSeconds();
  const int nonceRandom = entropy.random();
  const int headerRandom = entropy.random();
  return BuildScanQuery(q, now, nonceRandom, headerRandom);
}

// The decimal level of an "md5s" field; text that is not a number reads as 0.
unsigned ReadLevel(const std::string& field) {
  std::size_t start = 0;
  while (start < field.size() && std::isspace(static_cast<unsigned char>(field[start]))) ++start;
  if (start < field.size() && field[start] == '+') ++start;
  double value = 0;
  const char* first = field.data() + start;
  const auto [end, error] = std::from_chars(first, field.data() + field.size(), value);
  if (error != std::errc() || end == first || !std::isfinite(value) || value < 1) return 0;
  if (value >= 4294967295.0) return 4294967295u;
  return static_cast<unsigned>(value);
}

}  // namespace

ScanEntropy SystemScanEntropy() {
  ScanEntropy entropy;
  entropy.unixSeconds = [] { return static_cast<std::uint32_t>(std::time(nullptr)); };
  auto engine = std::make_shared<std::mt19937>(std::random_device{}());
  entropy.random = [engine] { return static_cast<int>((*engine)() % 32768u); };
  return entropy;
}

std::string ScanQuerySignature(const std::string& appid, const std::string& nonce,
                               const std::string& q, const std::string& timestamp,
                               const std::string& v) {
  return Last16(Md5Hex(appid + nonce + q + timestamp + v + kScanSigningKey));
}

std::string BuildScanQuery(const std::string& q, std::uint32_t unixSeconds, int nonceRandom,
                           int headerRandom) {
  // Both the body and the signature take the parameters in byte-wise key order.
  const std::uint32_t nonceSeed = unixSeconds * 1000u + static_cast<std::uint32_t>(nonceRandom);
  const std::map<std::string, std::string> parameters = {
      {"appid", kScanAppId},
      {"nonce", Last16(Md5Hex(std::to_string(nonceSeed)))},
      {"q", q},
      {"timestamp", std::to_string(unixSeconds) + "000"},
      {"v", kScanProtocolVersion},
  };
  std::string text;
  std::string signed_;
  for (const auto& [key, value] : parameters) {
    text += key + "=" + value + "\r\n";
    signed_ += value;
  }
  text += "sign=" + Last16(Md5Hex(signed_ + kScanSigningKey));

  const auto random = static_cast<unsigned>(headerRandom) & 0xffffu;
  std::string body = {
      '\x06', '\x51', static_cast<char>(random >> 8), static_cast<char>(random & 0xff), '\0', '\0'};
  return body + text;
}

unsigned ParseScanAnswer(std::string_view answer) {
  const std::size_t open = answer.find('{');
  if (open == std::string_view::npos) throw std::out_of_range("scan answer without \"{\"");
  const std::size_t close = answer.rfind('}');
  const std::string_view object =
      answer.substr(open, close == std::string_view::npos || close < open ? std::string_view::npos
                                                                          : close - open + 1);

  const std::optional<Json::Value> parsed = ParseJson(object);
  if (!parsed) return 0;
  const Json::Value& root = *parsed;
  if (!root.isObject()) return 0;

  std::string status;
  std::string md5s;
  try {
    status = root.get("status", Json::Value()).asString();
    md5s = root.get("md5s", Json::Value()).asString();
  } catch (const Json::Exception&) {
    return 0;  // an object or array where text was expected
  }
  if (!root.isMember("status") || status != "0") return 0;

  // Empty fields count, and the text after the last TAB is always a field.
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = md5s.find('\t', start);
    fields.push_back(md5s.substr(start, tab == std::string::npos ? tab : tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  if (fields.size() < 2) throw std::out_of_range("scan answer \"md5s\" has no level field");
  return ReadLevel(fields[1]);
}

unsigned QueryFileLevel(const std::string& digest, long timeLimitSeconds,
                        const ScanEntropy& entropy) {
  std::string response;
  if (!CCommunicator::PostRaw(ScanUrl(), BuildQuery(QueryFor(digest), entropy), timeLimitSeconds,
                              response)) {
    return 0;
  }
  return ParseScanAnswer(response);
}

bool IsFileClean(const std::string& path, long timeLimitSeconds) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) RaiseStatus(StatusCode::FileNotExist);
  if (!std::filesystem::is_regular_file(path, ec)) RaiseStatus(StatusCode::NotRegularFile);
  const std::string digest = FileMd5Hex(path);
  if (digest.empty()) throw ExceptionEx(kCalcMd5Failed);
  const unsigned level = QueryFileLevel(digest, timeLimitSeconds);
  if (level == 0) throw ExceptionEx(kCalcMd5Failed);
  return level < kMaliciousLevel;
}

bool IsCloudReachable(long timeLimitSeconds, const ScanEntropy& entropy) {
  std::string response;
  return CCommunicator::PostRaw(ScanUrl(), BuildQuery(QueryFor(kProbeDigest), entropy),
                                timeLimitSeconds, response);
}

}  // namespace corvane
