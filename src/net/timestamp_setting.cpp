#include "net/timestamp_setting.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <pugixml.hpp>
#include <sstream>

#include "base/data_locations.h"
#include "base/file_publish.h"
#include "net/server_hosts.h"

namespace corvane {
namespace {

bool IsHostName(const std::string& name) {
  if (name.empty() || name.size() > 253 || name.front() == '.' || name.front() == '-') return false;
  for (char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_')
      return false;
  return true;
}

bool IsPort(const std::string& text) {
  if (text.empty() || text.size() > 5) return false;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  const long port = std::stol(text);
  return port >= 1 && port <= 65535;
}

bool IsHostAndPort(const std::string& entry) {
  std::string host = entry, port;
  if (!entry.empty() && entry.front() == '[') {
    const std::size_t close = entry.find(']');
    if (close == std::string::npos || close < 3) return false;
    for (char c : entry.substr(1, close - 1))
      if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') return false;
    if (close + 1 == entry.size()) return true;
    return entry[close + 1] == ':' && IsPort(entry.substr(close + 2));
  }
  const std::size_t colon = entry.find(':');
  if (colon != std::string::npos) {
    host = entry.substr(0, colon);
    port = entry.substr(colon + 1);
    if (!IsPort(port)) return false;
  }
  return IsHostName(host);
}

}  // namespace

std::string SettingsFilePath() { return UserFileLocation() + "/" + kSettingsFileName; }

std::vector<std::string> LoadTimestampHostsSetting() {
  pugi::xml_document doc;
  if (!doc.load_file(SettingsFilePath().c_str())) return {};
  std::vector<std::string> hosts;
  for (pugi::xml_node host : doc.child("config").child("timestamp").children("host")) {
    std::string text = host.text().as_string();
    for (std::string& part : SplitHostList(text)) hosts.push_back(std::move(part));
  }
  if (InvalidTimestampHost(hosts)) return {};  // a hand-edited file that makes no sense
  return hosts;
}

std::optional<std::string> InvalidTimestampHost(const std::vector<std::string>& hosts) {
  for (const std::string& host : hosts)
    if (!IsHostAndPort(host)) return host;
  return std::nullopt;
}

bool SaveTimestampHostsSetting(const std::vector<std::string>& hosts) {
  const std::string path = SettingsFilePath();
  if (hosts.empty()) return std::remove(path.c_str()) == 0 || errno == ENOENT;
  std::error_code ec;
  std::filesystem::create_directories(UserFileLocation(), ec);
  pugi::xml_document doc;
  pugi::xml_node timestamp = doc.append_child("config").append_child("timestamp");
  for (const std::string& host : hosts) timestamp.append_child("host").text().set(host.c_str());
  std::ostringstream out;
  doc.save(out, "  ");
  return PublishFile(path, out.str(), kPublicFileMode);
}

void ApplyTimestampHostsSetting() { SetSavedTimestampHosts(LoadTimestampHostsSetting()); }

}  // namespace corvane
