#include "net/update_comm.h"

#include <stdlib.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <pugixml.hpp>
#include <random>
#include <vector>

#include "base/paths.h"
#include "base/status.h"
#include "net/communicator.h"

namespace corvane {
namespace {

constexpr const char* kGetVerInfoFailed = "UpdateComm::GetVerInfo";

// The numbers of a version text, empty pieces between dots skipped.
std::vector<long long> VersionNumbers(std::string_view version) {
  std::vector<long long> numbers;
  std::size_t position = 0;
  while (position <= version.size()) {
    std::size_t dot = version.find('.', position);
    if (dot == std::string_view::npos) dot = version.size();
    const std::string_view token = version.substr(position, dot - position);
    if (!token.empty()) {
      long long value = 0;
      for (char c : token) {
        if (c < '0' || c > '9') break;
        value = value >= 1000000000000LL ? value : value * 10 + (c - '0');
      }
      numbers.push_back(value);
    }
    position = dot + 1;
  }
  return numbers;
}

}  // namespace

VersionInfo UpdateComm::ReadVerInfo(std::string_view document, const std::string& entryName,
                                    const std::string& notesElement) {
  pugi::xml_document xml;
  if (!xml.load_buffer(document.data(), document.size())) throw ExceptionEx(kGetVerInfoFailed);
  const pugi::xml_node config = xml.child("config");
  if (!config) throw ExceptionEx(kGetVerInfoFailed);
  pugi::xml_node entry;
  for (pugi::xml_node file : config.children("file")) {
    if (entryName == file.attribute("name").value()) {
      entry = file;
      break;
    }
  }
  const pugi::xml_node version = entry.child("version");
  if (!version) throw ExceptionEx(kGetVerInfoFailed);
  const pugi::xml_node notes = version.child(notesElement.c_str());
  if (!notes) throw ExceptionEx(kGetVerInfoFailed);
  return {version.attribute("num").value(), notes.text().get()};
}

VersionInfo UpdateComm::GetVerInfo(const std::string& documentUrl, const std::string& entryName,
                                   const std::string& notesElement) {
  // A private directory keeps other users away from the file; both go on every path.
  std::string directory = TemporaryDirectory() + "/corvane-update-XXXXXX";
  if (!::mkdtemp(directory.data())) throw ExceptionEx(kGetVerInfoFailed);
  const std::string path = directory + "/" + std::to_string(std::random_device{}() % 100000000u);
  struct Remove {
    const std::string& directory;
    ~Remove() {
      std::error_code ec;
      std::filesystem::remove_all(directory, ec);
    }
  } remove{directory};
  std::string document;
  try {
    CCommunicator::Download(documentUrl, path);
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size > 16u * 1024u * 1024u) throw ExceptionEx(kGetVerInfoFailed);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) throw ExceptionEx(kGetVerInfoFailed);
    document.resize(static_cast<std::size_t>(size));
    const std::size_t read = std::fread(document.data(), 1, document.size(), file);
    std::fclose(file);
    if (read != document.size()) throw ExceptionEx(kGetVerInfoFailed);
  } catch (...) {
    throw ExceptionEx(kGetVerInfoFailed);
  }
  return ReadVerInfo(document, entryName, notesElement);
}

int CompareVersions(std::string_view a, std::string_view b) {
  const std::vector<long long> left = VersionNumbers(a), right = VersionNumbers(b);
  for (std::size_t i = 0;; ++i) {
    if (i == left.size()) return i < right.size() ? -1 : 0;
    if (i == right.size()) return 1;
    if (left[i] != right[i]) {
      const long long difference = left[i] - right[i];
      return difference > INT_MAX   ? INT_MAX
             : difference < INT_MIN ? INT_MIN
                                    : static_cast<int>(difference);
    }
  }
}

}  // namespace corvane
