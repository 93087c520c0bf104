#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crypto/der.h"
#include "crypto/openssl_ptr.h"
#include "crypto/signed_message.h"
#include "fixtures/run_command.h"
#include "fixtures/temp_dir.h"
#include "fixtures/test_pki.h"
#include "net/communicator.h"
#include "net/server_hosts.h"
#include "servers/loopback_http_server.h"
#include "servers/timestamp_server.h"
#include "sign/timestamp_client.h"
#include "sign/timestamp_verify.h"

namespace corvane {
namespace {

using test::KeyedCert;
using test::LoopbackHttpServer;
using test::TempDir;
using test::TimestampServer;
using Mode = TimestampServer::Mode;

using StorePtr = std::unique_ptr<X509_STORE, OpenSslDeleter<X509_STORE, X509_STORE_free>>;

constexpr char kOidPrivateKept[] = "1.3.6.1.4.1.55555.7.1";
constexpr char kOpenssl[] = "/usr/bin/openssl";

enum class Protocol { Authenticode, Rfc3161 };

const char* Name(Protocol protocol) {
  return protocol == Protocol::Authenticode ? "authenticode" : "rfc3161";
}

std::string Url(const TimestampServer& server, Protocol protocol) {
  return protocol == Protocol::Authenticode ? server.authenticodeUrl() : server.rfc3161Url();
}

std::optional<std::string> AddTimestamp(Protocol protocol, const std::string& der,
                                        const std::string& url) {
  return protocol == Protocol::Authenticode ? AddAuthenticodeTimestamp(der, url)
                                            : AddRfc3161Timestamp(der, url, EVP_sha256());
}

std::string ClosedUrl(const std::string& path) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + path;
}

// A PKCS #7 SignedData over some bytes by a throwaway code-signing certificate, DER; with
// `keptAttribute`, signer 0 already has one unauthenticated attribute.
std::string SampleSignature(const std::string& content, bool keptAttribute = false) {
  static const KeyedCert signer = test::Issue(test::CertSpec{}, nullptr);
  BioPtr data(BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
  Pkcs7Ptr p7(PKCS7_sign(signer.cert.get(), signer.key.get(), nullptr, data.get(),
                         PKCS7_BINARY | PKCS7_NOSMIMECAP));
  EXPECT_NE(p7, nullptr);
  unsigned char* out = nullptr;
  const int n = i2d_PKCS7(p7.get(), &out);
  std::string der(reinterpret_cast<char*>(out), static_cast<std::size_t>(n));
  OPENSSL_free(out);
  if (!keptAttribute) return der;
  SignedMessage message = SignedMessage::Decode(der);
  message.SetUnauthenticatedAttributes(
      0, {{kOidPrivateKept, {der::EncodeTlv(der::kOctetString, "kept")}}});
  return message.Encode();
}

StorePtr TrustOnly(X509* root) {
  StorePtr store(X509_STORE_new());
  if (root) X509_STORE_add_cert(store.get(), root);
  return store;
}

// The children of signer 0 without its unauthenticated attributes, DER each.
std::vector<std::string> SignedFields(const SignedMessage& message) {
  der::Node signer = der::ParseExact(message.SignerInfo(0));
  der::Expand(signer);
  std::vector<std::string> fields;
  for (const der::Node& child : signer.children) {
    if (child.tag != der::ContextConstructed(1)) fields.push_back(der::Encode(child));
  }
  return fields;
}

std::string FlipLastByte(std::string bytes) {
  bytes.back() = static_cast<char>(bytes.back() ^ 0x01);
  return bytes;
}

// `target` with the last unauthenticated attribute of `source` (signer 0) appended, the
// value passed through `edit`.
template <typename Edit>
std::string GraftLastAttribute(const std::string& source, const std::string& target, Edit edit) {
  MessageAttribute attribute = SignedMessage::Decode(source).UnauthenticatedAttributes(0).back();
  for (std::string& value : attribute.values) value = edit(value);
  SignedMessage message = SignedMessage::Decode(target);
  std::vector<MessageAttribute> attributes = message.UnauthenticatedAttributes(0);
  attributes.push_back(attribute);
  message.SetUnauthenticatedAttributes(0, attributes);
  for (const std::string& cert : SignedMessage::Decode(source).Certificates()) {
    AddCertToSignature(message, cert);
  }
  return message.Encode();
}

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

class ScopedTimestampHost {
 public:
  explicit ScopedTimestampHost(const std::string& value) {
    if (const char* old = std::getenv(kTimestampHostVariable)) old_ = old;
    ::setenv(kTimestampHostVariable, value.c_str(), 1);
    ClearServerOverrides();
  }
  ~ScopedTimestampHost() {
    if (old_) {
      ::setenv(kTimestampHostVariable, old_->c_str(), 1);
    } else {
      ::unsetenv(kTimestampHostVariable);
    }
  }

 private:
  std::optional<std::string> old_;
};

// ---- the server on its own, checked with OpenSSL ----

TEST(TimestampServer, Rfc3161AnswerVerifiesWithOpenSsl) {
  TimestampServer server;
  TempDir dir;
  const std::string data = "data to stamp";
  test::WriteFileBytes(dir / "data", data);
  const test::CommandResult query = test::RunCommand(
      kOpenssl, {"ts", "-query", "-data", dir / "data", "-sha256", "-cert", "-out", dir / "q"});
  ASSERT_EQ(query.exitStatus, 0) << query.err;

  std::string answer;
  ASSERT_TRUE(CCommunicator::PostRaw(server.rfc3161Url(), test::ReadFileBytes(dir / "q"), 10,
                                     {"Content-Type: application/timestamp-query"}, answer));
  EXPECT_EQ(server.authority().lastContentType(), "application/timestamp-query");
  test::WriteFileBytes(dir / "r", answer);
  const test::CommandResult verify =
      test::RunCommand(kOpenssl, {"ts", "-verify", "-in", dir / "r", "-queryfile", dir / "q",
                                  "-CAfile", server.rootPemPath()});
  EXPECT_EQ(verify.exitStatus, 0) << verify.out << verify.err;

  // The same answer must not verify against another root.
  test::WriteFileBytes(dir / "other.pem", test::ToPem(test::NewRoot("Other Root").cert.get()));
  const test::CommandResult untrusted = test::RunCommand(
      kOpenssl,
      {"ts", "-verify", "-in", dir / "r", "-queryfile", dir / "q", "-CAfile", dir / "other.pem"});
  EXPECT_NE(untrusted.exitStatus, 0);
}

TEST(TimestampServer, AuthenticodeAnswerIsPkcs7OverTheRequestedValueWhateverTheLineBreaks) {
  TimestampServer server;
  const std::string value = "\x01\x02 signature value \xff";
  const std::string body = AuthenticodeTimestampRequestBody(value);
  std::string flat;
  for (char c : body) {
    if (c != '\r' && c != '\n') flat += c;
  }
  std::string lf;
  for (char c : body) {
    if (c != '\r') lf += c;
  }
  StorePtr trust = TrustOnly(server.rootCert());
  X509_STORE_set_purpose(trust.get(), X509_PURPOSE_TIMESTAMP_SIGN);

  for (const std::string& request : {body, flat, lf + "\n", " " + flat + " \r\n"}) {
    SCOPED_TRACE(request);
    std::string answer;
    ASSERT_TRUE(CCommunicator::PostRaw(server.authenticodeUrl(), request, 10, answer));
    BioPtr b64(BIO_new(BIO_f_base64()));
    BIO_push(b64.get(), BIO_new_mem_buf(answer.data(), static_cast<int>(answer.size())));
    Pkcs7Ptr p7(d2i_PKCS7_bio(b64.get(), nullptr));
    ASSERT_NE(p7, nullptr) << answer;
    ASSERT_TRUE(PKCS7_type_is_signed(p7.get()));

    BioPtr content(BIO_new(BIO_s_mem()));
    ASSERT_EQ(PKCS7_verify(p7.get(), nullptr, trust.get(), nullptr, content.get(), PKCS7_BINARY),
              1);
    char* bytes = nullptr;
    const long n = BIO_get_mem_data(content.get(), &bytes);
    EXPECT_EQ(std::string(bytes, static_cast<std::size_t>(n)), value);

    PKCS7_SIGNER_INFO* si = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(p7.get()), 0);
    for (int nid : {NID_pkcs9_contentType, NID_pkcs9_signingTime, NID_pkcs9_messageDigest}) {
      EXPECT_NE(PKCS7_get_signed_attribute(si, nid), nullptr) << OBJ_nid2sn(nid);
    }
    EXPECT_EQ(sk_X509_num(p7->d.sign->cert), 2);  // the TSA and its root
  }
  EXPECT_EQ(server.authenticodeRequests(), 4);

  std::string answer;
  ASSERT_TRUE(CCommunicator::PostRaw(server.authenticodeUrl(), "not base64 at all", 10, answer));
  EXPECT_EQ(answer.find("MII"), std::string::npos);
}

// ---- adding timestamps ----

TEST(TimestampClient, AuthenticodeAddsCountersignatureAfterExistingAttributes) {
  TimestampServer server;
  StorePtr trust = TrustOnly(server.rootCert());
  for (bool kept : {false, true}) {
    SCOPED_TRACE(kept);
    const std::string input = SampleSignature("content to sign", kept);
    const SignedMessage before = SignedMessage::Decode(input);
    const int requests = server.authenticodeRequests();

    const std::optional<std::string> output =
        AddAuthenticodeTimestamp(input, server.authenticodeUrl());
    ASSERT_TRUE(output);
    EXPECT_EQ(server.authenticodeRequests(), requests + 1);
    EXPECT_EQ(server.authority().lastContentType(), "application/octet-stream");
    const std::string sent = server.authority().lastAuthenticodeBody();
    EXPECT_EQ(sent, AuthenticodeTimestampRequestBody(before.EncryptedDigest(0)));
    EXPECT_EQ(sent.find("\r\n"), 64u);  // lines of 64 characters separated by CRLF
    EXPECT_EQ(sent.find('\n'), 65u);

    const SignedMessage after = SignedMessage::Decode(*output);
    EXPECT_EQ(SignedFields(after), SignedFields(before));
    EXPECT_EQ(after.EncryptedDigest(0), before.EncryptedDigest(0));
    EXPECT_EQ(after.ContentDer(), before.ContentDer());
    const std::vector<MessageAttribute> attributes = after.UnauthenticatedAttributes(0);
    ASSERT_EQ(attributes.size(), kept ? 2u : 1u);
    if (kept) {
      EXPECT_EQ(attributes[0].oid, kOidPrivateKept);
    }
    EXPECT_EQ(attributes.back().oid, kOidCounterSignature);
    ASSERT_EQ(attributes.back().values.size(), 1u);

    std::vector<std::string> certs = before.Certificates();
    certs.push_back(test::ToDer(server.tsaCert()));
    certs.push_back(test::ToDer(server.rootCert()));
    EXPECT_EQ(after.Certificates(), certs);

    const std::optional<TimestampInfo> info = VerifyTimestamp(after, 0, trust.get());
    ASSERT_TRUE(info);
    EXPECT_FALSE(info->rfc3161);
    EXPECT_LE(std::labs(static_cast<long>(info->time - std::time(nullptr))), 60);
    EXPECT_EQ(info->tsaCertDer, test::ToDer(server.tsaCert()));
    EXPECT_EQ(info->certsDer, (std::vector<std::string>{test::ToDer(server.tsaCert()),
                                                        test::ToDer(server.rootCert())}));

    // Stamping again adds a second countersignature but no certificate twice.
    const std::optional<std::string> again =
        AddAuthenticodeTimestamp(*output, server.authenticodeUrl());
    ASSERT_TRUE(again);
    const SignedMessage twice = SignedMessage::Decode(*again);
    EXPECT_EQ(twice.Certificates(), certs);
    EXPECT_EQ(twice.UnauthenticatedAttributes(0).size(), attributes.size() + 1);
    EXPECT_TRUE(VerifyTimestamp(twice, 0, trust.get()));
  }
}

TEST(TimestampClient, AuthenticodeAnswerMayComeWithAnyLineBreaks) {
  TimestampServer tsa;
  const std::string input = SampleSignature("line breaks");
  const std::string value = SignedMessage::Decode(input).EncryptedDigest(0);
  std::string real;
  ASSERT_TRUE(CCommunicator::PostRaw(tsa.authenticodeUrl(), AuthenticodeTimestampRequestBody(value),
                                     10, real));
  ASSERT_NE(real.find("\r\n"), std::string::npos);
  std::string flat;
  for (char c : real) {
    if (c != '\r' && c != '\n') flat += c;
  }
  std::string lf;
  for (char c : real) {
    if (c != '\r') lf += c;
  }

  struct Case {
    std::string answer;
    bool accepted;
  } cases[] = {
      {real, true},
      {flat, true},
      {lf, true},
      {"\r\n " + flat + "\t\r\n\r\n", true},
      {flat.substr(0, flat.size() - 4), false},
      {flat + "A", false},
      {"*" + flat, false},
      {"", false},
  };
  LoopbackHttpServer canned;
  StorePtr trust = TrustOnly(tsa.rootCert());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer.substr(0, 20));
    canned.Post("/timestamp", [&](const httplib::Request&, httplib::Response& res) {
      res.set_content(c.answer, "application/octet-stream");
    });
    const std::optional<std::string> output =
        AddAuthenticodeTimestamp(input, canned.url("/timestamp"));
    EXPECT_EQ(output.has_value(), c.accepted);
    if (output) {
      EXPECT_TRUE(VerifyTimestamp(SignedMessage::Decode(*output), 0, trust.get()));
    }
  }
}

TEST(TimestampClient, Rfc3161AddsTokenAttribute) {
  TimestampServer server;
  StorePtr trust = TrustOnly(server.rootCert());
  TempDir dir;
  for (const EVP_MD* md : {EVP_sha256(), EVP_sha1(), EVP_sha512()}) {
    SCOPED_TRACE(EVP_MD_get0_name(md));
    const std::string input = SampleSignature("rfc 3161 content", true);
    const SignedMessage before = SignedMessage::Decode(input);

    const std::optional<std::string> output = AddRfc3161Timestamp(input, server.rfc3161Url(), md);
    ASSERT_TRUE(output);
    EXPECT_EQ(server.authority().lastContentType(), "application/timestamp-query");

    const SignedMessage after = SignedMessage::Decode(*output);
    EXPECT_EQ(SignedFields(after), SignedFields(before));
    EXPECT_EQ(after.ContentDer(), before.ContentDer());
    EXPECT_EQ(after.Certificates(), before.Certificates());
    const std::vector<MessageAttribute> attributes = after.UnauthenticatedAttributes(0);
    ASSERT_EQ(attributes.size(), 2u);
    EXPECT_EQ(attributes[0].oid, kOidPrivateKept);
    EXPECT_EQ(attributes[1].oid, kOidRfc3161Timestamp);
    ASSERT_EQ(attributes[1].values.size(), 1u);

    const std::optional<TimestampInfo> info = VerifyTimestamp(after, 0, trust.get());
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->rfc3161);
    EXPECT_LE(std::labs(static_cast<long>(info->time - std::time(nullptr))), 60);
    EXPECT_EQ(info->tsaCertDer, test::ToDer(server.tsaCert()));
    EXPECT_EQ(info->certsDer.back(), test::ToDer(server.rootCert()));

    // OpenSSL agrees that the token stamps the signature value.
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    const std::string value = before.EncryptedDigest(0);
    EVP_Digest(value.data(), value.size(), digest, &n, md, nullptr);
    test::WriteFileBytes(dir / "token", attributes[1].values[0]);
    const test::CommandResult verify =
        test::RunCommand(kOpenssl, {"ts", "-verify", "-token_in", "-in", dir / "token", "-digest",
                                    Hex(std::string(reinterpret_cast<char*>(digest), n)), "-CAfile",
                                    server.rootPemPath()});
    EXPECT_EQ(verify.exitStatus, 0) << verify.out << verify.err;
  }
}

TEST(TimestampClient, FailuresGiveNothingAfterOneRequest) {
  TimestampServer server;
  const std::string input = SampleSignature("failures");
  for (Protocol protocol : {Protocol::Authenticode, Protocol::Rfc3161}) {
    for (Mode mode : {Mode::Error500, Mode::Garbage, Mode::WrongDigest}) {
      SCOPED_TRACE(std::string(Name(protocol)) + " mode " + std::to_string(static_cast<int>(mode)));
      server.SetMode(mode);
      const int before = server.authenticodeRequests() + server.rfc3161Requests();
      EXPECT_EQ(AddTimestamp(protocol, input, Url(server, protocol)), std::nullopt);
      EXPECT_EQ(server.authenticodeRequests() + server.rfc3161Requests(), before + 1);
    }
    EXPECT_EQ(AddTimestamp(protocol, input, ClosedUrl("/x")), std::nullopt);
    EXPECT_EQ(AddTimestamp(protocol, "not a signature", Url(server, protocol)), std::nullopt);
  }
  EXPECT_EQ(AddRfc3161Timestamp(input, server.rfc3161Url(), nullptr), std::nullopt);
}

// ---- verifying timestamps ----

TEST(TimestampVerify, RejectsTamperingOtherDigestsAndUntrustedRoots) {
  TimestampServer server;
  StorePtr trust = TrustOnly(server.rootCert());
  StorePtr otherRoot = TrustOnly(test::NewRoot("Some Other Root").cert.get());
  StorePtr empty = TrustOnly(nullptr);
  const std::string plain = SampleSignature("first");
  const std::string other = SampleSignature("second");
  EXPECT_FALSE(VerifyTimestamp(SignedMessage::Decode(plain), 0, trust.get()));

  for (Protocol protocol : {Protocol::Authenticode, Protocol::Rfc3161}) {
    SCOPED_TRACE(Name(protocol));
    const std::optional<std::string> stamped = AddTimestamp(protocol, plain, Url(server, protocol));
    ASSERT_TRUE(stamped);
    const SignedMessage good = SignedMessage::Decode(*stamped);
    ASSERT_TRUE(VerifyTimestamp(good, 0, trust.get()));
    EXPECT_FALSE(VerifyTimestamp(good, 0, otherRoot.get()));
    EXPECT_FALSE(VerifyTimestamp(good, 0, empty.get()));
    EXPECT_FALSE(VerifyTimestamp(good, 0, nullptr));
    EXPECT_FALSE(VerifyTimestamp(good, 1, trust.get()));

    const auto same = [](const std::string& value) { return value; };
    // The last byte of a SignerInfo without unauthenticated attributes, and of a token, is
    // the last byte of the TSA's signature.
    const std::string tampered = GraftLastAttribute(*stamped, plain, FlipLastByte);
    const std::string moved = GraftLastAttribute(*stamped, other, same);
    EXPECT_TRUE(VerifyTimestamp(SignedMessage::Decode(GraftLastAttribute(*stamped, plain, same)), 0,
                                trust.get()));
    EXPECT_FALSE(VerifyTimestamp(SignedMessage::Decode(tampered), 0, trust.get()));
    EXPECT_FALSE(VerifyTimestamp(SignedMessage::Decode(moved), 0, trust.get()));
  }
}

TEST(TimestampVerify, TsaCertificateMustBeForTimeStampingAndValidAtTheTime) {
  const KeyedCert root = test::NewRoot("Odd TSA Root");
  test::CertSpec codeSigning;
  codeSigning.commonName = "Code signer posing as a TSA";
  test::CertSpec expired;
  expired.commonName = "Expired TSA";
  expired.notBeforeSeconds = -7200;
  expired.notAfterSeconds = -3600;
  struct Case {
    const char* name;
    KeyedCert leaf;
  } cases[] = {
      {"code signing", test::Issue(codeSigning, &root)},
      {"expired", test::IssueTsaCert(expired, root)},
  };
  const std::string input = SampleSignature("odd TSA");
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TsaIdentity identity{std::move(c.leaf), {}};
    identity.chain.push_back(UpRef(root.cert.get()));
    TimestampServer server(std::move(identity));
    StorePtr trust = TrustOnly(root.cert.get());
    // The client does not judge the TSA's certificate; the verifier does.
    const std::optional<std::string> stamped =
        AddAuthenticodeTimestamp(input, server.authenticodeUrl());
    ASSERT_TRUE(stamped);
    EXPECT_FALSE(VerifyTimestamp(SignedMessage::Decode(*stamped), 0, trust.get()));
  }

  // A purpose the store carries for other chains (here S/MIME) does not get in the way.
  TimestampServer server;
  StorePtr trust = TrustOnly(server.rootCert());
  X509_STORE_set_purpose(trust.get(), X509_PURPOSE_SMIME_SIGN);
  for (Protocol protocol : {Protocol::Authenticode, Protocol::Rfc3161}) {
    const std::optional<std::string> stamped = AddTimestamp(protocol, input, Url(server, protocol));
    ASSERT_TRUE(stamped);
    EXPECT_TRUE(VerifyTimestamp(SignedMessage::Decode(*stamped), 0, trust.get())) << Name(protocol);
  }
}

TEST(TimestampVerify, CheckSignerInfoNeedsTheNamedCertificateAndTheDigest) {
  TimestampServer server;
  const std::string input = SampleSignature("signer info");
  const std::optional<std::string> stamped =
      AddAuthenticodeTimestamp(input, server.authenticodeUrl());
  ASSERT_TRUE(stamped);
  const SignedMessage message = SignedMessage::Decode(*stamped);
  const std::string tsaSigner = message.UnauthenticatedAttributes(0).back().values[0];
  const std::string value = message.EncryptedDigest(0);
  const std::string tsa = test::ToDer(server.tsaCert());
  const std::string root = test::ToDer(server.rootCert());

  std::optional<SignerCheck> check = CheckSignerInfo(tsaSigner, value, {root, tsa});
  ASSERT_TRUE(check);
  EXPECT_EQ(test::ToDer(check->cert.get()), tsa);
  ASSERT_TRUE(check->signingTime);
  EXPECT_LE(std::labs(static_cast<long>(*check->signingTime - std::time(nullptr))), 60);

  EXPECT_FALSE(CheckSignerInfo(tsaSigner, value, {root}));
  EXPECT_FALSE(CheckSignerInfo(tsaSigner, value + "x", {tsa}));
  EXPECT_FALSE(CheckSignerInfo(tsaSigner, value, {tsa}, kOidTstInfo));
  EXPECT_FALSE(CheckSignerInfo(FlipLastByte(tsaSigner), value, {tsa}));
  EXPECT_FALSE(CheckSignerInfo("\x30\x00", value, {tsa}));
  EXPECT_FALSE(CheckRfc3161Token(tsaSigner, value));
}

// ---- reachability ----

TEST(TimestampReachable, ProbesBothPathsAndIgnoresTheStatus) {
  TimestampServer server;
  {
    ScopedTimestampHost host(server.hostPort());
    EXPECT_TRUE(IsTimestampReachable());
    EXPECT_EQ(server.probeRequests(), 2);
    server.SetMode(Mode::Error500);
    EXPECT_TRUE(IsTimestampReachable());
  }
  const std::string closed = ClosedUrl("");
  ScopedTimestampHost host(closed.substr(std::string("http://").size()));
  EXPECT_FALSE(IsTimestampReachable());
}

// ---- the program ----

// corvane-test-tsa started in the background; killed when this goes.
class TsaProcess {
 public:
  explicit TsaProcess(const std::vector<std::string>& args) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(fds[1], 1);
      ::close(fds[0]);
      ::close(fds[1]);
      std::vector<char*> argv{const_cast<char*>(CORVANE_TEST_TSA_PATH)};
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(fds[1]);
    out_ = ::fdopen(fds[0], "r");
  }
  ~TsaProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_) std::fclose(out_);
  }

  std::string FirstLine() {
    char line[256] = {};
    if (!out_ || !std::fgets(line, sizeof line, out_)) return {};
    return line;
  }

 private:
  pid_t pid_ = -1;
  std::FILE* out_ = nullptr;
};

TEST(TimestampTool, ServesBothProtocolsAndWritesItsRoot) {
  TempDir dir;
  TsaProcess tsa({"--port", "0", "--write-root", dir / "root.pem"});
  const std::string line = tsa.FirstLine();
  const std::string prefix = "listening on 127.0.0.1:";
  ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
  const std::string host = "127.0.0.1:" + std::to_string(std::atoi(line.c_str() + prefix.size()));

  BioPtr bio(BIO_new_file((dir / "root.pem").c_str(), "r"));
  ASSERT_NE(bio, nullptr);
  X509Ptr root(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  ASSERT_NE(root, nullptr);
  StorePtr trust = TrustOnly(root.get());

  ScopedTimestampHost setting(host);
  EXPECT_TRUE(IsTimestampReachable());
  const std::string input = SampleSignature("by the program");
  const std::optional<std::string> authenticode = AddAuthenticodeTimestamp(input, TimestampUrl());
  ASSERT_TRUE(authenticode);
  const std::optional<std::string> both =
      AddRfc3161Timestamp(*authenticode, Rfc3161Url(), EVP_sha256());
  ASSERT_TRUE(both);
  const SignedMessage message = SignedMessage::Decode(*both);
  ASSERT_EQ(message.UnauthenticatedAttributes(0).size(), 2u);
  EXPECT_TRUE(VerifyTimestamp(message, 0, trust.get()));
  EXPECT_TRUE(VerifyTimestamp(SignedMessage::Decode(*authenticode), 0, trust.get()));
}

}  // namespace
}  // namespace corvane
