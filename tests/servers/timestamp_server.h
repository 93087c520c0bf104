// A time-stamping authority on 127.0.0.1 for the tests and for trying the program by hand.
//
// Two protocols, one path each, both answering GET with 200 so that a reachability probe
// succeeds:
//
//   /timestamp  the Authenticode protocol: the body is a base64 TimeStampRequest (line breaks
//               and other white space are ignored); the answer is a base64 PKCS #7 SignedData
//               whose content is the signature value from the request, signed by the TSA with
//               the authenticated attributes contentType, signingTime and messageDigest, and
//               carrying the TSA's certificate chain.
//   /rfc3161    RFC 3161: a DER TimeStampReq in, a DER TimeStampResp out.
//
// The TSA certificate is a leaf with the critical extended key usage timeStamping, issued by
// a root of its own that the clients under test are told to trust (rootPemPath()).
#pragma once

#include <httplib.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "crypto/openssl_ptr.h"
#include "fixtures/temp_dir.h"
#include "fixtures/test_pki.h"
#include "servers/loopback_http_server.h"

namespace corvane::test {

// A TSA certificate with its key and the certificates above it (issuer first, root last).
struct TsaIdentity {
  KeyedCert tsa;
  std::vector<X509Ptr> chain;
};

// A fresh root "CorvaneCode Test TSA Root" and a leaf "CorvaneCode Test TSA" below it.
TsaIdentity NewTsaIdentity();

// A leaf as `wanted` describes, issued by `issuer`, with the critical extended key usage
// timeStamping in place of whatever `wanted` asks for.
KeyedCert IssueTsaCert(CertSpec wanted, const KeyedCert& issuer);

// The protocol logic, independent of where the requests come from.
class TimeStampAuthority {
 public:
  enum class Mode {
    Ok,           // answers as a TSA should
    Error500,     // every request, GET included, gets 500 with an HTML error page
    Garbage,      // POSTs get 200 with bytes that are neither base64 PKCS #7 nor a TimeStampResp
    WrongDigest,  // well-formed, correctly signed answers about a different signature value
  };

  explicit TimeStampAuthority(TsaIdentity identity);

  void SetMode(Mode mode) { mode_.store(mode); }
  Mode mode() const { return mode_.load(); }

  // The handlers for the three kinds of requests.
  void HandleAuthenticode(const httplib::Request& request, httplib::Response& response);
  void HandleRfc3161(const httplib::Request& request, httplib::Response& response);
  void HandleProbe(const httplib::Request& request, httplib::Response& response);

  // Registers the handlers on any cpp-httplib server.
  void Install(httplib::Server& server);

  X509* tsaCert() const { return identity_.tsa.cert.get(); }
  X509* rootCert() const;
  // The TSA certificate followed by its chain, DER each.
  std::vector<std::string> certificatesDer() const;

  int authenticodeRequests() const { return authenticodeRequests_.load(); }
  int rfc3161Requests() const { return rfc3161Requests_.load(); }
  int probeRequests() const { return probeRequests_.load(); }
  // The raw body of the most recent request on each path, and its Content-Type header.
  std::string lastAuthenticodeBody() const;
  std::string lastRfc3161Body() const;
  std::string lastContentType() const;

 private:
  std::string SignAuthenticode(const std::string& signatureValue) const;
  std::string RespondRfc3161(const std::string& requestDer) const;
  void Remember(std::string* slot, const httplib::Request& request);

  TsaIdentity identity_;
  std::atomic<Mode> mode_{Mode::Ok};
  std::atomic<int> authenticodeRequests_{0};
  std::atomic<int> rfc3161Requests_{0};
  std::atomic<int> probeRequests_{0};
  mutable std::atomic<long> serial_{0};
  mutable std::mutex lastMutex_;
  std::string lastAuthenticode_;
  std::string lastRfc3161_;
  std::string lastContentType_;
};

// The TSA on a LoopbackHttpServer with an ephemeral port. The root certificate is written to
// a temporary directory that lives as long as the server.
class TimestampServer {
 public:
  using Mode = TimeStampAuthority::Mode;

  TimestampServer();
  explicit TimestampServer(TsaIdentity identity);

  void SetMode(Mode mode) { authority_.SetMode(mode); }

  int port() const { return http_.port(); }
  // "127.0.0.1:<port>", the value for CORVANECODE_TIMESTAMP_HOST.
  std::string hostPort() const { return http_.hostPort(); }
  std::string authenticodeUrl() const { return http_.url("/timestamp"); }
  std::string rfc3161Url() const { return http_.url("/rfc3161"); }

  const std::string& rootPemPath() const { return rootPemPath_; }
  const std::string& rootDerPath() const { return rootDerPath_; }
  X509* rootCert() const { return authority_.rootCert(); }
  X509* tsaCert() const { return authority_.tsaCert(); }

  TimeStampAuthority& authority() { return authority_; }
  const TimeStampAuthority& authority() const { return authority_; }
  int authenticodeRequests() const { return authority_.authenticodeRequests(); }
  int rfc3161Requests() const { return authority_.rfc3161Requests(); }
  int probeRequests() const { return authority_.probeRequests(); }

 private:
  TimeStampAuthority authority_;
  TempDir dir_;
  std::string rootPemPath_;
  std::string rootDerPath_;
  LoopbackHttpServer http_;
};

}  // namespace corvane::test
