#include "servers/loopback_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace corvane::test {

LoopbackHttpServer::LoopbackHttpServer() : server_(std::make_unique<httplib::Server>()) { Start(); }

LoopbackHttpServer::LoopbackHttpServer(const std::string& certPemPath,
                                       const std::string& keyPemPath)
    : server_(std::make_unique<httplib::SSLServer>(certPemPath.c_str(), keyPemPath.c_str())),
      tls_(true) {
  Start();
}

void SetUpConnections(httplib::Server& server) {
  // The library's own switch does not reach the sockets it accepts; they inherit the
  // listening socket's options.
  server.set_socket_options([](socket_t sock) {
    const int on = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on);
    ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  });
  server.set_keep_alive_max_count(100);
  // Between requests on a kept-alive connection the library polls; without an interval it
  // naps a millisecond between looks, which delays every request that comes in meanwhile.
  server.set_idle_interval(0, 10000);
}

void LoopbackHttpServer::Start() {
  if (!server_->is_valid()) throw std::runtime_error("loopback server: bad certificate or key");

  // A client that gives up mid-answer must not take the test process down with SIGPIPE.
  ::signal(SIGPIPE, SIG_IGN);

  auto dispatch = [this](const httplib::Request& request, httplib::Response& response) {
    Dispatch(request, response);
  };
  server_->Get(".*", dispatch);
  server_->Post(".*", dispatch);
  SetUpConnections(*server_);

  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("loopback server: cannot bind 127.0.0.1");
  thread_ = std::thread([this] { server_->listen_after_bind(); });

  // stop() is ignored until the accept loop runs, so the destructor must not come earlier.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!server_->is_running()) {
    if (std::chrono::steady_clock::now() > deadline) {
      thread_.detach();
      throw std::runtime_error("loopback server: accept loop did not start");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

LoopbackHttpServer::~LoopbackHttpServer() {
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

std::string LoopbackHttpServer::hostPort() const { return "127.0.0.1:" + std::to_string(port_); }

std::string LoopbackHttpServer::url(const std::string& path) const {
  return std::string(tls_ ? "https://" : "http://") + hostPort() + path;
}

LoopbackHttpServer& LoopbackHttpServer::Get(const std::string& pathPattern, Handler handler) {
  Add("GET", pathPattern, std::move(handler));
  return *this;
}

LoopbackHttpServer& LoopbackHttpServer::Post(const std::string& pathPattern, Handler handler) {
  Add("POST", pathPattern, std::move(handler));
  return *this;
}

void LoopbackHttpServer::Add(const std::string& method, const std::string& pathPattern,
                             Handler handler) {
  std::lock_guard<std::mutex> lock(routesMutex_);
  for (Route& route : routes_) {
    if (route.method == method && route.pattern == pathPattern) {
      route.handler = std::move(handler);
      return;
    }
  }
  routes_.push_back({method, pathPattern, std::regex(pathPattern), std::move(handler)});
}

void LoopbackHttpServer::Dispatch(const httplib::Request& request, httplib::Response& response) {
  ++requestCount_;
  Handler handler;
  {
    std::lock_guard<std::mutex> lock(routesMutex_);
    for (const Route& route : routes_) {
      const bool methodMatches =
          route.method == request.method || (route.method == "GET" && request.method == "HEAD");
      if (methodMatches && std::regex_match(request.path, route.regex)) {
        handler = route.handler;
        break;
      }
    }
  }
  if (handler) {
    handler(request, response);
  } else {
    response.status = 404;
  }
}

ClosedLoopbackPort::ClosedLoopbackPort() {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd_ >= 0) ::close(fd_);
    throw std::runtime_error("closed port: cannot bind 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
}

ClosedLoopbackPort::~ClosedLoopbackPort() { ::close(fd_); }

namespace {

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path);
}

// One certificate "<name>.pem" with its P-256 key "<name>.key", issued by the given issuer
// or self-signed when `issuerCert` is empty.
void MakeCertificate(const std::string& directory, const std::string& name,
                     const std::string& commonName, const std::string& extensions,
                     const std::string& issuerCert, const std::string& issuerKey) {
  const std::string base = directory + "/" + name;
  WriteText(base + ".cnf",
            "[req]\ndistinguished_name = dn\nx509_extensions = ext\nprompt = no\n"
            "[dn]\nCN = " +
                commonName + "\n[ext]\n" + extensions);
  std::string command = "openssl req -x509 -config '" + base +
                        ".cnf' -newkey ec -pkeyopt "
                        "ec_paramgen_curve:P-256 -nodes -days 2 -keyout '" +
                        base + ".key' -out '" + base + ".pem'";
  if (!issuerCert.empty()) command += " -CA '" + issuerCert + "' -CAkey '" + issuerKey + "'";
  command += " >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) {
    throw std::runtime_error("openssl failed to make the test certificate " + name);
  }
}

}  // namespace

LoopbackCertificates WriteLoopbackCertificates(const std::string& directory) {
  const std::string leaf =
      "basicConstraints = critical,CA:FALSE\nkeyUsage = critical,digitalSignature\n"
      "extendedKeyUsage = serverAuth\n";
  const std::string loopbackNames = "subjectAltName = IP:127.0.0.1,DNS:localhost\n";

  LoopbackCertificates files;
  files.caCert = directory + "/ca.pem";
  const std::string caKey = directory + "/ca.key";
  MakeCertificate(directory, "ca", "CorvaneCode Loopback Test CA",
                  "basicConstraints = critical,CA:TRUE\nkeyUsage = critical,keyCertSign,cRLSign\n"
                  "subjectKeyIdentifier = hash\n",
                  "", "");

  MakeCertificate(directory, "server", "127.0.0.1", leaf + loopbackNames, files.caCert, caKey);
  files.serverCert = directory + "/server.pem";
  files.serverKey = directory + "/server.key";

  MakeCertificate(directory, "selfsigned", "127.0.0.1", leaf + loopbackNames, "", "");
  files.selfSignedCert = directory + "/selfsigned.pem";
  files.selfSignedKey = directory + "/selfsigned.key";

  MakeCertificate(directory, "otherhost", "otherhost", leaf + "subjectAltName = DNS:otherhost\n",
                  files.caCert, caKey);
  files.otherHostCert = directory + "/otherhost.pem";
  files.otherHostKey = directory + "/otherhost.key";
  return files;
}

}  // namespace corvane::test
