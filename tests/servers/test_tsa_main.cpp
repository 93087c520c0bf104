// corvane-test-tsa: the test time-stamping authority as a program of its own, for trying
// the signing commands by hand against 127.0.0.1.
//
//   corvane-test-tsa [--port N] [--cert FILE --key FILE [--chain FILE]] [--write-root FILE]
//                    [--mode ok|error500|garbage|wrongdigest]
//
// Without --cert/--key it makes a TSA of its own (a root and a time-stamping leaf). The
// root, or the last certificate of --chain, is written as PEM to --write-root. --port 0,
// the default, lets the system choose. Once it listens it prints
// "listening on 127.0.0.1:PORT" and serves until it is killed.
#include <openssl/pem.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "crypto/openssl_ptr.h"
#include "fixtures/temp_dir.h"
#include "servers/loopback_http_server.h"
#include "servers/timestamp_server.h"

namespace {

using corvane::BioPtr;
using corvane::EvpPkeyPtr;
using corvane::X509Ptr;
using corvane::test::TimeStampAuthority;
using corvane::test::TsaIdentity;

[[noreturn]] void Fail(const std::string& message) {
  std::cerr << "corvane-test-tsa: " << message << "\n";
  std::exit(2);
}

[[noreturn]] void Usage() {
  std::cerr << "usage: corvane-test-tsa [--port N] [--cert FILE --key FILE [--chain FILE]]\n"
               "                        [--write-root FILE] "
               "[--mode ok|error500|garbage|wrongdigest]\n";
  std::exit(2);
}

std::vector<X509Ptr> ReadCertificates(const std::string& path) {
  BioPtr bio(BIO_new_file(path.c_str(), "r"));
  if (!bio) Fail("cannot open " + path);
  std::vector<X509Ptr> certs;
  while (X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
    certs.emplace_back(cert);
  }
  if (certs.empty()) Fail("no PEM certificate in " + path);
  return certs;
}

EvpPkeyPtr ReadKey(const std::string& path) {
  BioPtr bio(BIO_new_file(path.c_str(), "r"));
  if (!bio) Fail("cannot open " + path);
  EvpPkeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
  if (!key) Fail("no PEM private key in " + path);
  return key;
}

TimeStampAuthority::Mode ParseMode(const std::string& text) {
  static const std::map<std::string, TimeStampAuthority::Mode> modes = {
      {"ok", TimeStampAuthority::Mode::Ok},
      {"error500", TimeStampAuthority::Mode::Error500},
      {"garbage", TimeStampAuthority::Mode::Garbage},
      {"wrongdigest", TimeStampAuthority::Mode::WrongDigest},
  };
  const auto found = modes.find(text);
  if (found == modes.end()) Usage();
  return found->second;
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> options;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name != "--port" && name != "--cert" && name != "--key" && name != "--chain" &&
        name != "--write-root" && name != "--mode") {
      Usage();
    }
    if (i + 1 >= argc) Usage();
    options[name] = argv[++i];
  }
  auto option = [&](const char* name) {
    const auto found = options.find(name);
    return found == options.end() ? std::string() : found->second;
  };

  char* end = nullptr;
  const std::string portText = option("--port").empty() ? "0" : option("--port");
  const long port = std::strtol(portText.c_str(), &end, 10);
  if (*end != '\0' || port < 0 || port > 65535) Fail("bad port " + portText);

  TsaIdentity identity;
  try {
    if (!option("--cert").empty() || !option("--key").empty()) {
      if (option("--cert").empty() || option("--key").empty()) Fail("--cert needs --key");
      std::vector<X509Ptr> certs = ReadCertificates(option("--cert"));
      identity.tsa.cert = std::move(certs.front());
      identity.tsa.key = ReadKey(option("--key"));
      if (!option("--chain").empty()) identity.chain = ReadCertificates(option("--chain"));
    } else {
      identity = corvane::test::NewTsaIdentity();
    }
  } catch (const std::exception& e) {
    Fail(e.what());
  }

  std::unique_ptr<TimeStampAuthority> authority;
  try {
    authority = std::make_unique<TimeStampAuthority>(std::move(identity));
  } catch (const std::exception& e) {
    Fail(e.what());
  }
  if (!option("--mode").empty()) authority->SetMode(ParseMode(option("--mode")));

  if (!option("--write-root").empty()) {
    X509* root = authority->rootCert();
    if (!root) Fail("--write-root needs a root: give --chain");
    try {
      corvane::test::WriteFileBytes(option("--write-root"), corvane::test::ToPem(root));
    } catch (const std::exception& e) {
      Fail(e.what());
    }
  }

  ::signal(SIGPIPE, SIG_IGN);
  httplib::Server server;
  corvane::test::SetUpConnections(server);
  authority->Install(server);
  int bound = 0;
  if (port == 0) {
    bound = server.bind_to_any_port("127.0.0.1");
  } else if (server.bind_to_port("127.0.0.1", static_cast<int>(port))) {
    bound = static_cast<int>(port);
  }
  if (bound <= 0) Fail("cannot listen on 127.0.0.1:" + portText);

  std::cout << "listening on 127.0.0.1:" << bound << std::endl;
  return server.listen_after_bind() ? 0 : 1;
}
