// A small HTTP(S) server on 127.0.0.1 for tests that talk to the network code.
//
// The server listens on an ephemeral port from construction to destruction. Handlers are
// registered per method with a regular expression that must match the whole request path;
// they may be added or replaced at any time, also while requests are being served. A
// request that matches no handler gets an empty 404 answer.
#pragma once

#include <httplib.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace corvane::test {

// Sets up a server's connections as production web servers do: an answer's header and body
// leave at once instead of waiting for the client's delayed acknowledgement, one connection
// serves up to 100 requests, and a request on a kept-alive connection is answered at once.
void SetUpConnections(httplib::Server& server);

class LoopbackHttpServer {
 public:
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

  // Plain HTTP.
  LoopbackHttpServer();
  // HTTPS with the given PEM certificate (chain) and private key files.
  LoopbackHttpServer(const std::string& certPemPath, const std::string& keyPemPath);
  ~LoopbackHttpServer();
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  int port() const { return port_; }
  // "127.0.0.1:<port>", the form the server-host settings take.
  std::string hostPort() const;
  // "<scheme>://127.0.0.1:<port><path>".
  std::string url(const std::string& path = "/") const;

  LoopbackHttpServer& Get(const std::string& pathPattern, Handler handler);
  LoopbackHttpServer& Post(const std::string& pathPattern, Handler handler);

  // Requests received so far, handled or not.
  int requestCount() const { return requestCount_.load(); }

 private:
  struct Route {
    std::string method;
    std::string pattern;
    std::regex regex;
    Handler handler;
  };

  void Start();
  void Add(const std::string& method, const std::string& pathPattern, Handler handler);
  void Dispatch(const httplib::Request& request, httplib::Response& response);

  std::unique_ptr<httplib::Server> server_;
  bool tls_ = false;
  int port_ = 0;
  std::thread thread_;
  std::atomic<int> requestCount_{0};
  std::mutex routesMutex_;
  std::vector<Route> routes_;
};

// A port on 127.0.0.1 that refuses every connection: bound for the object's lifetime but never
// listening, so no other program can take it meanwhile.
class ClosedLoopbackPort {
 public:
  ClosedLoopbackPort();
  ~ClosedLoopbackPort();
  ClosedLoopbackPort(const ClosedLoopbackPort&) = delete;
  ClosedLoopbackPort& operator=(const ClosedLoopbackPort&) = delete;
  int port() const { return port_; }
  std::string hostPort() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// Throwaway TLS material for HTTPS tests, written as PEM files into one directory.
struct LoopbackCertificates {
  std::string caCert;      // the test CA, to be trusted by the client under test
  std::string serverCert;  // issued by the test CA for 127.0.0.1 and localhost
  std::string serverKey;
  std::string selfSignedCert;  // self-signed, for 127.0.0.1 and localhost
  std::string selfSignedKey;
  std::string otherHostCert;  // issued by the test CA for "otherhost" only
  std::string otherHostKey;
};

// Generates the set above with the openssl command line tool; throws std::runtime_error
// when that fails.
LoopbackCertificates WriteLoopbackCertificates(const std::string& directory);

}  // namespace corvane::test
