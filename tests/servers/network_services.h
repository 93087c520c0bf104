// The three servers of the network services, on 127.0.0.1, for tests and for trying the
// commands by hand (corvane-test-services):
//
// - ReputationServer: plain HTTP POST /fileinfo_service.php. It checks each query's header
//   and signature like the real service and answers per digest.
// - DownloadServer: HTTPS GET /download/corvanecode.update.xml.txt and
//   /download/corvanecode.exe.
// - LogServer: HTTPS POST /ReceiveFeedbackServer, answering each request type with its
//   response type, or with a wrong one.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "servers/loopback_http_server.h"

namespace corvane::test {

class ReputationServer {
 public:
  enum class Answer {
    Clean,          // level 10
    Level70,        // malicious
    Level69,        // clean, just below the threshold
    Status00,       // "status": "00"
    MalformedMd5s,  // "md5s" without any TAB
    NoBrace,        // an answer with no JSON object at all
    Silence,        // no answer until the client gives up
  };

  ReputationServer();
  ~ReputationServer();

  std::string hostPort() const { return server_.hostPort(); }
  // The answer for one digest; every other digest (the reachability probe's included) is
  // answered Clean.
  void SetAnswer(const std::string& digest, Answer answer);
  // Bodies of every query received, in order.
  std::vector<std::string> bodies() const;
  // Queries whose header or signature was wrong (answered "status": "1").
  int badQueries() const;

  // Checks a query body like the service: header, key=value lines, signature. Returns the
  // parameters by key, with "sign"; empty when the body is malformed.
  static std::map<std::string, std::string> ParseQuery(const std::string& body);

 private:
  mutable std::mutex mutex_;
  std::condition_variable released_;
  bool stopping_ = false;
  std::map<std::string, Answer> answers_;
  std::vector<std::string> bodies_;
  int badQueries_ = 0;
  LoopbackHttpServer server_;  // last: stopped before the state its handlers use
};

// The update document in one of the forms the version check meets.
enum class UpdateDocument {
  Normal,           // one entry "corvanecode.exe" with num and both notes
  SecondEntry,      // a first entry for another file, the matching one second
  MissingNotes,     // the matching entry's version lacks the notes elements
  NoMatchingEntry,  // only entries for other files
  NotXml,           // not a document at all
};
std::string UpdateDocumentText(UpdateDocument kind, const std::string& offeredVersion);

class DownloadServer {
 public:
  DownloadServer(const LoopbackCertificates& certificates);
  std::string hostPort() const { return server_.hostPort(); }
  void SetDocument(UpdateDocument kind, const std::string& offeredVersion);
  // The executable served under every program's download name ("corvanecode.exe",
  // "corvanecode-cli.exe"); empty: the transfer is cut short after a few bytes.
  void SetExecutable(std::string bytes);
  // The same for one download name alone.
  void SetExecutable(const std::string& downloadName, std::string bytes);
  int requestCount() const { return server_.requestCount(); }

 private:
  mutable std::mutex mutex_;
  std::string document_;
  std::map<std::string, std::string> executables_;
  LoopbackHttpServer server_;
};

class LogServer {
 public:
  LogServer(const LoopbackCertificates& certificates);
  std::string hostPort() const { return server_.hostPort(); }
  // false: every answer carries "type": "wrongResp" and a "msg".
  void SetAnswerRightType(bool right);
  // The bodies received, as sent.
  std::vector<std::string> bodies() const;

 private:
  mutable std::mutex mutex_;
  bool right_ = true;
  std::vector<std::string> bodies_;
  LoopbackHttpServer server_;
};

}  // namespace corvane::test
