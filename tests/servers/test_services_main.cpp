// corvane-test-services: the file-reputation, download and log servers on 127.0.0.1, for
// trying the network commands by hand.
//
//   corvane-test-services --dir DIR [--offer VERSION] [--document normal|second|nonotes|
//                         nomatch|notxml] [--exe FILE] [--log-answer right|wrong]
//                         [--answer DIGEST=clean|70|69|00|md5s|nobrace|silence]...
//
// DIR receives the test CA (ca.pem, to be named by --ca-bundle) and the server keys. It
// prints one line per server, "scan 127.0.0.1:P", "update 127.0.0.1:P", "log 127.0.0.1:P",
// and serves until it is killed.
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <map>
#include <string>

#include "fixtures/temp_dir.h"
#include "servers/network_services.h"

namespace {

using corvane::test::ReputationServer;
using corvane::test::UpdateDocument;

[[noreturn]] void Usage() {
  std::cerr << "usage: corvane-test-services --dir DIR [--offer VERSION] [--document KIND] "
               "[--exe FILE]\n                             [--log-answer right|wrong] "
               "[--answer DIGEST=KIND]...\n";
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir, offer = "9.0.0.0", document = "normal", exe, logAnswer = "right";
  std::map<std::string, ReputationServer::Answer> answers;
  const std::map<std::string, ReputationServer::Answer> kinds = {
      {"clean", ReputationServer::Answer::Clean},
      {"70", ReputationServer::Answer::Level70},
      {"69", ReputationServer::Answer::Level69},
      {"00", ReputationServer::Answer::Status00},
      {"md5s", ReputationServer::Answer::MalformedMd5s},
      {"nobrace", ReputationServer::Answer::NoBrace},
      {"silence", ReputationServer::Answer::Silence},
  };
  const std::map<std::string, UpdateDocument> documents = {
      {"normal", UpdateDocument::Normal},        {"second", UpdateDocument::SecondEntry},
      {"nonotes", UpdateDocument::MissingNotes}, {"nomatch", UpdateDocument::NoMatchingEntry},
      {"notxml", UpdateDocument::NotXml},
  };
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (i + 1 >= argc) Usage();
    const std::string value = argv[++i];
    if (name == "--dir") {
      dir = value;
    } else if (name == "--offer") {
      offer = value;
    } else if (name == "--document" && documents.count(value)) {
      document = value;
    } else if (name == "--exe") {
      exe = value;
    } else if (name == "--log-answer" && (value == "right" || value == "wrong")) {
      logAnswer = value;
    } else if (name == "--answer") {
      const std::size_t eq = value.find('=');
      if (eq == std::string::npos || !kinds.count(value.substr(eq + 1))) Usage();
      answers[value.substr(0, eq)] = kinds.at(value.substr(eq + 1));
    } else {
      Usage();
    }
  }
  if (dir.empty()) Usage();

  try {
    const corvane::test::LoopbackCertificates certificates =
        corvane::test::WriteLoopbackCertificates(dir);
    ReputationServer reputation;
    for (const auto& [digest, answer] : answers) reputation.SetAnswer(digest, answer);
    corvane::test::DownloadServer download(certificates);
    download.SetDocument(documents.at(document), offer);
    if (!exe.empty()) download.SetExecutable(corvane::test::ReadFileBytes(exe));
    corvane::test::LogServer log(certificates);
    log.SetAnswerRightType(logAnswer == "right");

    std::cout << "scan " << reputation.hostPort() << "\nupdate " << download.hostPort() << "\nlog "
              << log.hostPort() << "\nca " << certificates.caCert << std::endl;
    for (;;) ::pause();
  } catch (const std::exception& e) {
    std::cerr << "corvane-test-services: " << e.what() << "\n";
    return 1;
  }
}
