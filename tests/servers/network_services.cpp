#include "servers/network_services.h"

#include <json/json.h>

#include <chrono>
#include <memory>

#include "app/update_hand_off.h"
#include "net/cloud_scan.h"

namespace corvane::test {
namespace {

std::string Json(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  return Json::writeString(builder, value);
}

std::string ScanAnswer(ReputationServer::Answer answer, const std::string& digest) {
  using Answer = ReputationServer::Answer;
  switch (answer) {
    case Answer::Clean:
      return "{\"status\":\"0\",\"md5s\":\"" + digest + "\\t10\\t\"}";
    case Answer::Level70:
      return "{\"status\":\"0\",\"md5s\":\"" + digest + "\\t70\\t\"}";
    case Answer::Level69:
      return "{\"status\":\"0\",\"md5s\":\"" + digest + "\\t69\\t\"}";
    case Answer::Status00:
      return "{\"status\":\"00\",\"md5s\":\"" + digest + "\\t90\\t\"}";
    case Answer::MalformedMd5s:
      return "{\"status\":\"0\",\"md5s\":\"" + digest + "\"}";
    case Answer::NoBrace:
      return "service unavailable";
    case Answer::Silence:
      break;
  }
  return {};
}

}  // namespace

std::map<std::string, std::string> ReputationServer::ParseQuery(const std::string& body) {
  std::map<std::string, std::string> parameters;
  if (body.size() < 6 || body[0] != '\x06' || body[1] != '\x51' || body[4] != '\0' ||
      body[5] != '\0' ||
      ((static_cast<unsigned char>(body[2]) << 8) | static_cast<unsigned char>(body[3])) > 32767) {
    return {};
  }
  std::size_t start = 6;
  for (;;) {
    const std::size_t end = body.find("\r\n", start);
    const std::string line = body.substr(start, end == std::string::npos ? end : end - start);
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) return {};
    parameters[line.substr(0, eq)] = line.substr(eq + 1);
    if (end == std::string::npos) break;
    start = end + 2;
  }
  static const char* const kKeys[] = {"appid", "nonce", "q", "sign", "timestamp", "v"};
  if (parameters.size() != std::size(kKeys)) return {};
  for (const char* key : kKeys)
    if (!parameters.count(key)) return {};
  const std::string expected =
      ScanQuerySignature(parameters["appid"], parameters["nonce"], parameters["q"],
                         parameters["timestamp"], parameters["v"]);
  if (parameters["sign"] != expected || parameters["appid"] != kScanAppId ||
      parameters["v"] != kScanProtocolVersion || parameters["q"].size() != 34 ||
      parameters["q"].compare(32, 2, "\t\t") != 0) {
    return {};
  }
  return parameters;
}

ReputationServer::ReputationServer() {
  server_.Post("/fileinfo_service.php",
               [this](const httplib::Request& req, httplib::Response& res) {
                 std::unique_lock<std::mutex> lock(mutex_);
                 bodies_.push_back(req.body);
                 const auto parameters = ParseQuery(req.body);
                 if (parameters.empty()) {
                   ++badQueries_;
                   res.set_content("{\"status\":\"1\",\"md5s\":\"\"}", "application/json");
                   return;
                 }
                 const std::string digest = parameters.at("q").substr(0, 32);
                 const auto found = answers_.find(digest);
                 const Answer answer = found == answers_.end() ? Answer::Clean : found->second;
                 if (answer == Answer::Silence) {
                   // Held until the client has given up (or the server goes away).
                   released_.wait_for(lock, std::chrono::seconds(10), [this] { return stopping_; });
                   return;
                 }
                 res.set_content(ScanAnswer(answer, digest), "text/html");
               });
}

ReputationServer::~ReputationServer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  released_.notify_all();
}

void ReputationServer::SetAnswer(const std::string& digest, Answer answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_[digest] = answer;
}

std::vector<std::string> ReputationServer::bodies() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bodies_;
}

int ReputationServer::badQueries() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return badQueries_;
}

std::string UpdateDocumentText(UpdateDocument kind, const std::string& offeredVersion) {
  const std::string declaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
  const std::string other =
      "  <file name=\"corvanecode-helper.dll\">\n    <version num=\"9.9.9.9\">\n"
      "      <desp-en>helper notes</desp-en>\n      <desp-cn>helper</desp-cn>\n"
      "    </version>\n  </file>\n";
  const std::string match = "  <file name=\"corvanecode.exe\">\n    <version num=\"" +
                            offeredVersion +
                            "\">\n      <desp-cn>修复了若干问题</desp-cn>\n"
                            "      <desp-en>Fixed several problems.</desp-en>\n"
                            "    </version>\n  </file>\n";
  const std::string noNotes = "  <file name=\"corvanecode.exe\">\n    <version num=\"" +
                              offeredVersion +
                              "\">\n      <notes>x</notes>\n    </version>\n"
                              "  </file>\n";
  switch (kind) {
    case UpdateDocument::Normal:
      return declaration + "<config>\n" + match + "</config>\n";
    case UpdateDocument::SecondEntry:
      return declaration + "<config>\n" + other + match + "</config>\n";
    case UpdateDocument::MissingNotes:
      return declaration + "<config>\n" + noNotes + "</config>\n";
    case UpdateDocument::NoMatchingEntry:
      return declaration + "<config>\n" + other + "</config>\n";
    case UpdateDocument::NotXml:
      return "<html><body>Not Found</body>";
  }
  return {};
}

DownloadServer::DownloadServer(const LoopbackCertificates& certificates)
    : server_(certificates.serverCert, certificates.serverKey) {
  server_.Get("/download/corvanecode.update.xml.txt",
              [this](const httplib::Request&, httplib::Response& res) {
                std::lock_guard<std::mutex> lock(mutex_);
                res.set_content(document_, "text/plain");
              });
  server_.Get(R"(/download/(corvanecode(-cli)?\.exe))",
              [this](const httplib::Request& req, httplib::Response& res) {
                std::string bytes;
                {
                  std::lock_guard<std::mutex> lock(mutex_);
                  bytes = executables_[req.path.substr(std::string("/download/").size())];
                }
                if (bytes.empty()) {
                  // Promises a megabyte, sends a few bytes and hangs up.
                  res.set_content_provider(1 << 20, "application/octet-stream",
                                           [](size_t, size_t, httplib::DataSink& sink) {
                                             sink.write(
                                                 "\x7f"
                                                 "ELF",
                                                 4);
                                             return false;
                                           });
                  return;
                }
                res.set_content(std::move(bytes), "application/octet-stream");
              });
}

void DownloadServer::SetDocument(UpdateDocument kind, const std::string& offeredVersion) {
  std::lock_guard<std::mutex> lock(mutex_);
  document_ = UpdateDocumentText(kind, offeredVersion);
}

void DownloadServer::SetExecutable(std::string bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Program program : kPrograms) executables_[FilesOf(program).downloadName] = bytes;
}

void DownloadServer::SetExecutable(const std::string& downloadName, std::string bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  executables_[downloadName] = std::move(bytes);
}

LogServer::LogServer(const LoopbackCertificates& certificates)
    : server_(certificates.serverCert, certificates.serverKey) {
  server_.Post("/ReceiveFeedbackServer", [this](const httplib::Request& req,
                                                httplib::Response& res) {
    bool right;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      bodies_.push_back(req.body);
      right = right_;
    }
    Json::Value request;
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    Json::Value answer(Json::objectValue);
    if (!reader->parse(req.body.data(), req.body.data() + req.body.size(), &request, &errors) ||
        !request.isObject()) {
      answer["type"] = "errorResp";
      answer["msg"] = "not JSON";
    } else if (!right) {
      answer["type"] = "wrongResp";
      answer["msg"] = "rejected";
    } else {
      std::string type = request.get("type", "").asString();
      const std::size_t suffix = type.rfind("Req");
      answer["type"] = suffix == std::string::npos ? "errorResp" : type.substr(0, suffix) + "Resp";
      answer["msg"] = "ok";
    }
    res.set_content(Json(answer), "application/json");
  });
}

void LogServer::SetAnswerRightType(bool right) {
  std::lock_guard<std::mutex> lock(mutex_);
  right_ = right;
}

std::vector<std::string> LogServer::bodies() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bodies_;
}

}  // namespace corvane::test
