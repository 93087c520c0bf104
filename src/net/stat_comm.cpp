#include "net/stat_comm.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <pugixml.hpp>
#include <sstream>

#include "base/data_locations.h"
#include "base/file_publish.h"
#include "base/status.h"
#include "net/communicator.h"
#include "net/json_body.h"

namespace corvane {
namespace {

constexpr const char* kUserFileDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n";

std::string ConfigDirectory() { return UserFileLocation(); }

// Every missing component of `directory` is created; a plain file standing where a directory
// belongs is deleted first.
bool EnsureDirectory(const std::filesystem::path& directory) {
  std::filesystem::path built;
  for (const std::filesystem::path& part : directory) {
    built /= part;
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(built, ec);
    if (std::filesystem::is_directory(std::filesystem::status(built, ec))) continue;
    if (std::filesystem::exists(status)) std::filesystem::remove(built, ec);
    if (!std::filesystem::create_directory(built, ec) && ec) return false;
  }
  return true;
}

// Beside the program the directory is made as the window always made it; in the user's XDG
// directories nothing of the user's is deleted on the way.
bool MakeConfigDirectory() {
  const std::string directory = ConfigDirectory();
  if (directory.empty()) return false;
  if (KeepsFilesBesideProgram()) return EnsureDirectory(directory);
  std::error_code ec;
  std::filesystem::create_directories(directory, ec);
  return std::filesystem::is_directory(directory, ec);
}

// Writes the user file beside itself and renames it into place.
bool SaveUserFile(const pugi::xml_document& document, const std::string& path) {
  std::ostringstream text;
  text << kUserFileDeclaration;
  document.save(text, "\t", pugi::format_default | pugi::format_no_declaration,
                pugi::encoding_utf8);
  return PublishFile(path, text.str(), kPublicFileMode);
}

bool WriteEmptyUserFile(const std::string& path) {
  pugi::xml_document document;
  pugi::xml_node product = document.append_child("config").append_child("product");
  product.append_attribute("name") = "";
  product.append_attribute("version") = "";
  return SaveUserFile(document, path);
}

}  // namespace

StatComm::StatComm(std::string serverUrl, std::function<ProductIdentity()> identity)
    : serverUrl_(std::move(serverUrl)), identity_(std::move(identity)) {}

StatComm::~StatComm() = default;

std::string StatComm::UserFilePath() { return ConfigDirectory() + "/User.xml"; }

bool StatComm::SendUserStat() {
  const ProductIdentity identity = identity_();
  if (!MakeConfigDirectory()) return false;
  const std::string path = UserFilePath();
  std::error_code ec;
  if (!std::filesystem::exists(path, ec) && !WriteEmptyUserFile(path)) return false;

  if (!document_) document_ = std::make_unique<pugi::xml_document>();
  if (!document_->load_file(path.c_str())) return false;
  pugi::xml_node product = document_->child("config").child("product");
  if (!product) return false;
  if (identity.version == product.attribute("version").value() &&
      identity.product == product.attribute("name").value()) {
    return true;
  }

  Json::Value report(Json::objectValue);
  report["platform"] = "windows";
  report["product"] = identity.product;
  report["type"] = "userStatReq";
  report["version"] = identity.version;
  if (!PostAndCheck(StyledJson(report), "userStatResp")) return false;

  auto attribute = [&](const char* name) {
    pugi::xml_attribute found = product.attribute(name);
    return found ? found : product.append_attribute(name);
  };
  attribute("name") = identity.product.c_str();
  attribute("version") = identity.version.c_str();
  SaveUserFile(*document_, path);  // unsaved, the report goes out again on the next start
  return true;
}

bool StatComm::SendAction(int count, const std::string& actionName) {
  const ProductIdentity identity = identity_();
  Json::Value report(Json::objectValue);
  report["action"] = actionName;
  report["actionCnt"] = std::to_string(count);
  report["product"] = identity.product;
  report["type"] = "userActionReq";
  return PostAndCheck(StyledJson(report), "userActionResp");
}

bool StatComm::PostAndCheck(const std::string& body, const std::string& expectedType) {
  std::string answer;
  try {
    answer = CCommunicator(serverUrl_).Post(body);
  } catch (const std::exception&) {
  }
  try {
    CheckResponse(expectedType, answer);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

void StatComm::CheckResponse(const std::string& expectedType, const std::string& answer) {
  const std::optional<Json::Value> parsed = ParseJson(answer);
  if (!parsed) RaiseStatus("%s, %s", "StatComm::CheckResponse", "the answer is not JSON");
  const std::string type = JsonText(*parsed, "type");
  if (type == expectedType) return;
  throw ExceptionEx("type: " + type + ", message: " + JsonText(*parsed, "msg"));
}

}  // namespace corvane
