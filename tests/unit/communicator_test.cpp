#include "net/communicator.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>

#include "base/status.h"
#include "fixtures/temp_dir.h"
#include "net/server_hosts.h"
#include "servers/loopback_http_server.h"

namespace corvane {
namespace {

using test::LoopbackHttpServer;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

constexpr const char* kCommunicationFailed = "communication failed";

// A port on 127.0.0.1 that nothing listens on: bound once by the kernel's choice, then freed.
int ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

std::string ClosedUrl(const std::string& path = "/") {
  return "http://127.0.0.1:" + std::to_string(ClosedPort()) + path;
}

// The message of the ExceptionEx `call` throws; nullopt when it throws nothing.
template <typename Call>
std::optional<std::string> ThrownMessage(Call call) {
  try {
    call();
  } catch (const ExceptionEx& e) {
    return std::string(e.what());
  }
  return std::nullopt;
}

std::vector<std::string> DirectoryNames(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnvironment() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(CommunicatorPost, ResultStartsAtFirstBraceWhateverTheStatus) {
  struct Case {
    int status;
    std::string answer;
    std::optional<std::string> expected;  // nullopt: Post fails
  } cases[] = {
      {200, "\xEF\xBB\xBF \r\n{\"status\":\"0\"}", "{\"status\":\"0\"}"},
      {200, "a{b}{c}", "{b}{c}"},
      {200, std::string("x\0{\0y", 5), std::string("{\0y", 3)},
      {500, "error page {\"type\":\"msgResp\"}", "{\"type\":\"msgResp\"}"},
      {200, "no brace at all", std::nullopt},
      {404, "", std::nullopt},
  };
  LoopbackHttpServer server;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    server.Post("/ReceiveFeedbackServer", [&](const httplib::Request&, httplib::Response& res) {
      res.status = c.status;
      res.set_content(c.answer, "text/plain");
    });
    CCommunicator communicator(server.url("/ReceiveFeedbackServer"));
    if (c.expected) {
      EXPECT_EQ(communicator.Post("{}"), *c.expected);
    } else {
      EXPECT_EQ(ThrownMessage([&] { communicator.Post("{}"); }), kCommunicationFailed);
    }
  }
}

TEST(CommunicatorPost, UnreachableServerIsCommunicationFailed) {
  CCommunicator communicator(ClosedUrl("/ReceiveFeedbackServer"));
  EXPECT_EQ(ThrownMessage([&] { communicator.Post("{}"); }), kCommunicationFailed);
}

TEST(CommunicatorPost, SendsWholeBodyAndOnlyPostSetsTheUserAgent) {
  LoopbackHttpServer server;
  std::string body;
  std::optional<std::string> userAgent;
  server.Post("/p", [&](const httplib::Request& req, httplib::Response& res) {
    body = req.body;
    userAgent.reset();
    if (req.has_header("User-Agent")) userAgent = req.get_header_value("User-Agent");
    res.set_content("{}", "application/json");
  });
  const std::string zeros("a\0b\0c", 5);

  EXPECT_EQ(CCommunicator(server.url("/p")).Post(zeros), "{}");
  EXPECT_EQ(body, zeros);
  EXPECT_EQ(userAgent, "rur_avede-0.1.0-windows08.x86_64");

  std::string response;
  EXPECT_TRUE(CCommunicator::PostRaw(server.url("/p"), zeros, 5, response));
  EXPECT_EQ(body, zeros);
  EXPECT_EQ(body.size(), 5u);
  EXPECT_EQ(userAgent, std::nullopt);  // the library sends none of its own
  EXPECT_EQ(response, "{}");
}

TEST(CommunicatorPostRaw, AppendsAndReportsFailureWithoutThrowing) {
  LoopbackHttpServer server;
  std::atomic<bool> release{false};
  server.Post("/ok", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("answer", "text/plain");
  });
  // Sends a first chunk, then nothing until the test lets it finish.
  server.Post("/stall", [&](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider("text/plain", [&](size_t offset, httplib::DataSink& sink) {
      if (offset == 0) {
        sink.write("partial", 7);
      } else if (release) {
        sink.done();
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      return true;
    });
  });

  std::string response = "kept:";
  EXPECT_TRUE(CCommunicator::PostRaw(server.url("/ok"), "q", 5, response));
  EXPECT_EQ(response, "kept:answer");

  response = "kept:";
  EXPECT_FALSE(CCommunicator::PostRaw(ClosedUrl(), "q", 5, response));
  EXPECT_EQ(response, "kept:");

  response = "kept:";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(CCommunicator::PostRaw(server.url("/stall"), "q", 1, response));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  release = true;
  EXPECT_EQ(response, "kept:partial");
  EXPECT_GE(elapsed, std::chrono::milliseconds(900));
  EXPECT_LT(elapsed, std::chrono::seconds(3));
}

TEST(CommunicatorDownload, ErrorPageIsWrittenOverTheDestination) {
  LoopbackHttpServer server;
  const std::string page("<html>not here\0</html>", 22);
  server.Get("/download/corvanecode.update.xml.txt",
             [&](const httplib::Request&, httplib::Response& res) {
               res.status = 404;
               res.set_content(page, "text/html");
             });
  TempDir dir;
  const std::string dest = dir / "corvanecode.update.xml.txt";
  WriteFileBytes(dest, "an older and longer document");
  const auto permissions = std::filesystem::status(dest).permissions();

  CCommunicator::Download(server.url("/download/corvanecode.update.xml.txt"), dest);

  EXPECT_EQ(ReadFileBytes(dest), page);
  EXPECT_EQ(DirectoryNames(dir.path()), std::vector<std::string>{"corvanecode.update.xml.txt"});
  EXPECT_EQ(std::filesystem::status(dest).permissions(), permissions);  // not mkstemp's 0600
}

TEST(CommunicatorDownload, MissingDirectoryFailsBeforeAnyRequest) {
  LoopbackHttpServer server;
  TempDir dir;
  const std::string dest = dir / "absent/corvanecode.exe";

  EXPECT_EQ(ThrownMessage([&] { CCommunicator::Download(server.url("/x"), dest); }),
            "CCommunicator::Download, file path: " + dest);
  EXPECT_EQ(server.requestCount(), 0);
  EXPECT_TRUE(DirectoryNames(dir.path()).empty());
}

TEST(CommunicatorDownload, FailureLeavesExistingDestinationUntouched) {
  LoopbackHttpServer server;
  // Promises 100 bytes, delivers 10 and hangs up.
  server.Get("/truncated", [](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(100, "application/octet-stream",
                             [](size_t, size_t, httplib::DataSink& sink) {
                               sink.write("0123456789", 10);
                               return false;
                             });
  });
  const std::string urls[] = {ClosedUrl("/file"), server.url("/truncated")};
  for (const std::string& url : urls) {
    SCOPED_TRACE(url);
    TempDir dir;
    const std::string dest = dir / "issuer.crt";
    const std::string original("old\0bytes", 9);
    WriteFileBytes(dest, original);

    EXPECT_EQ(ThrownMessage([&] { CCommunicator::Download(url, dest); }),
              "CCommunicator::Download, file path: " + dest);
    EXPECT_EQ(ReadFileBytes(dest), original);
    EXPECT_EQ(DirectoryNames(dir.path()), std::vector<std::string>{"issuer.crt"});
  }

  // A transfer that succeeds but cannot replace the destination (a directory) fails too.
  server.Get("/file", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("payload", "application/octet-stream");
  });
  TempDir dir;
  const std::string dest = dir / "issuer.crt";
  std::filesystem::create_directory(dest);
  EXPECT_EQ(ThrownMessage([&] { CCommunicator::Download(server.url("/file"), dest); }),
            "CCommunicator::Download, file path: " + dest);
  EXPECT_TRUE(std::filesystem::is_directory(dest));
  EXPECT_EQ(DirectoryNames(dir.path()), std::vector<std::string>{"issuer.crt"});
}

TEST(CommunicatorProbe, TrueForAnyAnswerFalseWhenUnreachable) {
  LoopbackHttpServer server;  // no handlers: every path answers 404
  EXPECT_TRUE(CCommunicator::Probe(server.url("/rfc3161")));
  EXPECT_EQ(server.requestCount(), 1);
  EXPECT_FALSE(CCommunicator::Probe(ClosedUrl("/timestamp")));
}

TEST(CommunicatorLock, SimultaneousPostsRunOneAfterTheOther) {
  LoopbackHttpServer server;
  std::atomic<int> active{0};
  std::atomic<int> mostActive{0};
  server.Post("/slow", [&](const httplib::Request&, httplib::Response& res) {
    const int now = ++active;
    int seen = mostActive.load();
    while (now > seen && !mostActive.compare_exchange_weak(seen, now)) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    --active;
    res.set_content("{}", "application/json");
  });

  // The server itself serves two clients at once, so any serialisation seen below is ours.
  {
    auto viaOtherClient = [&] { httplib::Client("127.0.0.1", server.port()).Post("/slow"); };
    std::thread first(viaOtherClient), second(viaOtherClient);
    first.join();
    second.join();
    ASSERT_EQ(mostActive.load(), 2);
  }

  mostActive = 0;
  std::string results[2];
  auto post = [&](int i) { results[i] = CCommunicator(server.url("/slow")).Post("{}"); };
  std::thread first(post, 0), second(post, 1);
  first.join();
  second.join();
  EXPECT_EQ(mostActive.load(), 1);
  EXPECT_EQ(results[0], "{}");
  EXPECT_EQ(results[1], "{}");
  EXPECT_EQ(server.requestCount(), 4);
}

class CommunicatorHttps : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    certificates_ = new test::LoopbackCertificates(test::WriteLoopbackCertificates(dir_->path()));
  }
  static void TearDownTestSuite() {
    delete certificates_;
    delete dir_;
  }
  static TempDir* dir_;
  static test::LoopbackCertificates* certificates_;
};

TempDir* CommunicatorHttps::dir_ = nullptr;
test::LoopbackCertificates* CommunicatorHttps::certificates_ = nullptr;

TEST_F(CommunicatorHttps, PeerMustChainToTheConfiguredCaAndMatchTheHost) {
  const test::LoopbackCertificates& files = *certificates_;
  struct Case {
    const char* name;
    std::string cert;
    std::string key;
    bool accepted;
  } cases[] = {
      {"issued by the test CA", files.serverCert, files.serverKey, true},
      {"self-signed", files.selfSignedCert, files.selfSignedKey, false},
      {"issued for another host", files.otherHostCert, files.otherHostKey, false},
  };
  ClearServerOverrides();
  ScopedEnvironment trust(kCaBundleVariable, files.caCert);

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackHttpServer server(c.cert, c.key);
    server.Get("/download/file", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("payload", "application/octet-stream");
    });
    server.Post("/ReceiveFeedbackServer", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("{\"type\":\"msgResp\"}", "application/json");
    });
    const std::string postUrl = server.url("/ReceiveFeedbackServer");
    const std::string dest = *dir_ / "downloaded";
    std::filesystem::remove(dest);
    std::string raw;

    const auto postMessage = ThrownMessage([&] { CCommunicator(postUrl).Post("{}"); });
    const auto downloadMessage =
        ThrownMessage([&] { CCommunicator::Download(server.url("/download/file"), dest); });
    if (c.accepted) {
      EXPECT_EQ(postMessage, std::nullopt);
      EXPECT_EQ(downloadMessage, std::nullopt);
      EXPECT_EQ(ReadFileBytes(dest), "payload");
    } else {
      EXPECT_EQ(postMessage, kCommunicationFailed);
      EXPECT_EQ(downloadMessage, "CCommunicator::Download, file path: " + dest);
      EXPECT_FALSE(std::filesystem::exists(dest));
    }
    EXPECT_EQ(CCommunicator::PostRaw(postUrl, "{}", 5, raw), c.accepted);
    EXPECT_EQ(CCommunicator::Probe(server.url("/download/file")), c.accepted);
  }
}

TEST_F(CommunicatorHttps, TestCaIsUntrustedWithoutTheSetting) {
  ClearServerOverrides();
  ScopedEnvironment systemStore(kCaBundleVariable, "");
  LoopbackHttpServer server(certificates_->serverCert, certificates_->serverKey);
  EXPECT_FALSE(CCommunicator::Probe(server.url("/")));

  SetCaBundlePath(certificates_->caCert);  // the setter serves as well as the environment
  EXPECT_TRUE(CCommunicator::Probe(server.url("/")));
  ClearServerOverrides();
}

TEST(ServerHosts, DefaultsEnvironmentAndSettersBuildTheUrls) {
  ClearServerOverrides();
  const char* variables[] = {kTimestampHostVariable, kScanHostVariable, kUpdateHostVariable,
                             kLogHostVariable, kCaBundleVariable};
  std::vector<std::unique_ptr<ScopedEnvironment>> cleared;
  for (const char* variable : variables) {
    cleared.push_back(std::make_unique<ScopedEnvironment>(variable, ""));
  }

  EXPECT_EQ(TimestampUrl(), "http://timestamp.corvane.example/timestamp");
  EXPECT_EQ(Rfc3161Url(), "http://timestamp.corvane.example/rfc3161");
  EXPECT_EQ(ScanUrl(), "http://scan.corvane.example/fileinfo_service.php");
  EXPECT_EQ(DownloadUrl("corvanecode.exe"), "https://www.corvane.example/download/corvanecode.exe");
  EXPECT_EQ(LogServerUrl(), "https://log.corvane.example/ReceiveFeedbackServer");
  EXPECT_EQ(CaBundlePath(), "");

  {
    ScopedEnvironment timestamp(kTimestampHostVariable, "127.0.0.1:8080");
    ScopedEnvironment scan(kScanHostVariable, "127.0.0.1:8081");
    ScopedEnvironment download(kUpdateHostVariable, "127.0.0.1:8082");
    ScopedEnvironment log(kLogHostVariable, "127.0.0.1:8083");
    ScopedEnvironment ca(kCaBundleVariable, "/tmp/ca.pem");
    EXPECT_EQ(TimestampUrl(), "http://127.0.0.1:8080/timestamp");
    EXPECT_EQ(Rfc3161Url(), "http://127.0.0.1:8080/rfc3161");
    EXPECT_EQ(ScanUrl(), "http://127.0.0.1:8081/fileinfo_service.php");
    EXPECT_EQ(DownloadUrl("corvanecode.exe"), "https://127.0.0.1:8082/download/corvanecode.exe");
    EXPECT_EQ(LogServerUrl(), "https://127.0.0.1:8083/ReceiveFeedbackServer");
    EXPECT_EQ(CaBundlePath(), "/tmp/ca.pem");

    SetTimestampHost("stamp:1");
    SetScanHost("scan:2");
    SetUpdateHost("d:3");
    SetLogHost("l:4");
    SetCaBundlePath("");
    EXPECT_EQ(TimestampUrl(), "http://stamp:1/timestamp");
    EXPECT_EQ(ScanUrl(), "http://scan:2/fileinfo_service.php");
    EXPECT_EQ(DownloadUrl("x.txt"), "https://d:3/download/x.txt");
    EXPECT_EQ(LogServerUrl(), "https://l:4/ReceiveFeedbackServer");
    EXPECT_EQ(CaBundlePath(), "");

    ClearServerOverrides();
    EXPECT_EQ(TimestampUrl(), "http://127.0.0.1:8080/timestamp");
    EXPECT_EQ(CaBundlePath(), "/tmp/ca.pem");
  }
}

}  // namespace
}  // namespace corvane
