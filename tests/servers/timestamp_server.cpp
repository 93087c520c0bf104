#include "servers/timestamp_server.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/ts.h>

#include <cctype>
#include <optional>
#include <stdexcept>

namespace corvane::test {
namespace {

constexpr char kOidTimestampRequest[] = "1.3.6.1.4.1.311.3.2.1";
constexpr char kOidData[] = "1.2.840.113549.1.7.1";
// The policy every RFC 3161 token of this TSA names; from the arc OpenSSL's examples use.
constexpr char kTsaPolicy[] = "1.2.3.4.1";

constexpr char kErrorPage[] =
    "<html><head><title>500 Internal Server Error</title></head>"
    "<body><h1>Internal Server Error</h1></body></html>";

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test TSA: ") + what);
}

std::string Der(const unsigned char* data, int length) {
  return std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length));
}

template <typename T, int (*I2d)(const T*, unsigned char**)>
std::string ToDerOf(const T* object) {
  unsigned char* out = nullptr;
  const int n = I2d(object, &out);
  Check(n > 0, "encode");
  std::string bytes = Der(out, n);
  OPENSSL_free(out);
  return bytes;
}

// Base64 with every white-space character ignored; nullopt for anything else that is not
// base64.
std::optional<std::string> DecodeBase64(const std::string& text) {
  std::string compact;
  for (char c : text) {
    if (!std::isspace(static_cast<unsigned char>(c))) compact += c;
  }
  if (compact.empty() || compact.size() % 4 != 0) return std::nullopt;
  std::string out(compact.size() / 4 * 3, '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(compact.data()),
                                static_cast<int>(compact.size()));
  if (n < 0) return std::nullopt;
  std::size_t padding = 0;
  while (padding < 2 && compact[compact.size() - 1 - padding] == '=') ++padding;
  out.resize(static_cast<std::size_t>(n) - padding);
  return out;
}

// Base64 in lines of 64 characters, each ended by CRLF.
std::string EncodeBase64(const std::string& bytes) {
  std::string flat(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(flat.data()),
                                reinterpret_cast<const unsigned char*>(bytes.data()),
                                static_cast<int>(bytes.size()));
  flat.resize(static_cast<std::size_t>(n));
  std::string out;
  for (std::size_t i = 0; i < flat.size(); i += 64) out += flat.substr(i, 64) + "\r\n";
  return out;
}

// Walks a DER encoding one header at a time with OpenSSL's own parser.
class DerWalker {
 public:
  explicit DerWalker(const std::string& der)
      : p_(reinterpret_cast<const unsigned char*>(der.data())), end_(p_ + der.size()) {}

  // The next header; enters constructed values.
  bool Header(int* tag, int* cls, long* length) {
    const unsigned char* q = p_;
    const int flags = ASN1_get_object(&q, length, tag, cls, end_ - p_);
    if (flags & 0x80) return false;
    if (!(flags & V_ASN1_CONSTRUCTED)) return false;
    p_ = q;
    return true;
  }

  bool Enter(int wantTag, int wantClass) {
    int tag = 0;
    int cls = 0;
    long length = 0;
    return Header(&tag, &cls, &length) && tag == wantTag && cls == wantClass;
  }

  std::optional<std::string> Oid() {
    ASN1_OBJECT* object = d2i_ASN1_OBJECT(nullptr, &p_, end_ - p_);
    if (!object) return std::nullopt;
    char text[128];
    const int n = OBJ_obj2txt(text, sizeof text, object, 1);
    ASN1_OBJECT_free(object);
    if (n <= 0 || n >= static_cast<int>(sizeof text)) return std::nullopt;
    return std::string(text);
  }

  std::optional<std::string> OctetString() {
    ASN1_OCTET_STRING* value = d2i_ASN1_OCTET_STRING(nullptr, &p_, end_ - p_);
    if (!value) return std::nullopt;
    std::string out = Der(ASN1_STRING_get0_data(value), ASN1_STRING_length(value));
    ASN1_OCTET_STRING_free(value);
    return out;
  }

  // Skips one whole value when it is a SET.
  bool SkipSet() {
    const unsigned char* q = p_;
    long length = 0;
    int tag = 0;
    int cls = 0;
    const int flags = ASN1_get_object(&q, &length, &tag, &cls, end_ - p_);
    if (flags & 0x80) return false;
    if (tag != V_ASN1_SET || cls != V_ASN1_UNIVERSAL) return true;
    p_ = q + length;
    return true;
  }

 private:
  const unsigned char* p_;
  const unsigned char* end_;
};

// The signature value a TimeStampRequest asks about; the optional attributes are skipped.
std::optional<std::string> RequestedSignatureValue(const std::string& der) {
  DerWalker walker(der);
  if (!walker.Enter(V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL)) return std::nullopt;
  if (walker.Oid() != kOidTimestampRequest) return std::nullopt;
  if (!walker.SkipSet()) return std::nullopt;
  if (!walker.Enter(V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL)) return std::nullopt;
  if (walker.Oid() != kOidData) return std::nullopt;
  if (!walker.Enter(0, V_ASN1_CONTEXT_SPECIFIC)) return std::nullopt;
  return walker.OctetString();
}

struct X509StackFree {
  void operator()(STACK_OF(X509) * stack) const { sk_X509_free(stack); }
};
using X509Stack = std::unique_ptr<STACK_OF(X509), X509StackFree>;

// A stack that borrows the certificates.
X509Stack Borrowed(const std::vector<X509Ptr>& certs) {
  X509Stack stack(sk_X509_new_null());
  Check(stack != nullptr, "stack");
  for (const X509Ptr& cert : certs) Check(sk_X509_push(stack.get(), cert.get()) > 0, "push");
  return stack;
}

std::string FlipFirstByte(std::string bytes) {
  if (bytes.empty()) return "\x01";
  bytes[0] = static_cast<char>(bytes[0] ^ 0x01);
  return bytes;
}

ASN1_INTEGER* NextSerial(TS_RESP_CTX*, void* data) {
  auto* serial = static_cast<std::atomic<long>*>(data);
  ASN1_INTEGER* out = ASN1_INTEGER_new();
  if (out && !ASN1_INTEGER_set(out, ++*serial)) {
    ASN1_INTEGER_free(out);
    return nullptr;
  }
  return out;
}

}  // namespace

KeyedCert IssueTsaCert(CertSpec wanted, const KeyedCert& issuer) {
  wanted.extendedKeyUsage = false;
  wanted.basicConstraints = BasicConstraints::EndEntity;
  KeyedCert out = Issue(wanted, &issuer);
  AddExtension(out.cert.get(), issuer.cert.get(), NID_ext_key_usage, "critical,timeStamping");
  Check(X509_sign(out.cert.get(), issuer.key.get(), wanted.digest) > 0, "sign");
  return out;
}

TsaIdentity NewTsaIdentity() {
  KeyedCert root = NewRoot("CorvaneCode Test TSA Root");
  CertSpec leaf;
  leaf.commonName = "CorvaneCode Test TSA";
  leaf.organization = "CorvaneCode Test";
  TsaIdentity identity{IssueTsaCert(leaf, root), {}};
  identity.chain.push_back(std::move(root.cert));
  return identity;
}

TimeStampAuthority::TimeStampAuthority(TsaIdentity identity) : identity_(std::move(identity)) {
  Check(identity_.tsa.cert && identity_.tsa.key, "TSA certificate and key");
  Check(X509_check_private_key(identity_.tsa.cert.get(), identity_.tsa.key.get()) == 1,
        "the key does not belong to the TSA certificate");
}

X509* TimeStampAuthority::rootCert() const {
  return identity_.chain.empty() ? nullptr : identity_.chain.back().get();
}

std::vector<std::string> TimeStampAuthority::certificatesDer() const {
  std::vector<std::string> out{ToDer(identity_.tsa.cert.get())};
  for (const X509Ptr& cert : identity_.chain) out.push_back(ToDer(cert.get()));
  return out;
}

void TimeStampAuthority::Remember(std::string* slot, const httplib::Request& request) {
  std::lock_guard<std::mutex> lock(lastMutex_);
  *slot = request.body;
  lastContentType_ = request.get_header_value("Content-Type");
}

std::string TimeStampAuthority::lastAuthenticodeBody() const {
  std::lock_guard<std::mutex> lock(lastMutex_);
  return lastAuthenticode_;
}

std::string TimeStampAuthority::lastRfc3161Body() const {
  std::lock_guard<std::mutex> lock(lastMutex_);
  return lastRfc3161_;
}

std::string TimeStampAuthority::lastContentType() const {
  std::lock_guard<std::mutex> lock(lastMutex_);
  return lastContentType_;
}

std::string TimeStampAuthority::SignAuthenticode(const std::string& signatureValue) const {
  BioPtr content(BIO_new_mem_buf(signatureValue.data(), static_cast<int>(signatureValue.size())));
  Check(content != nullptr, "content");
  X509Stack chain = Borrowed(identity_.chain);
  // PKCS7_sign puts the TSA certificate first and adds contentType, signingTime and
  // messageDigest to the signer's authenticated attributes.
  Pkcs7Ptr message(PKCS7_sign(identity_.tsa.cert.get(), identity_.tsa.key.get(), chain.get(),
                              content.get(), PKCS7_BINARY | PKCS7_NOSMIMECAP));
  Check(message != nullptr, "PKCS7_sign");
  return ToDerOf<PKCS7, i2d_PKCS7>(message.get());
}

std::string TimeStampAuthority::RespondRfc3161(const std::string& requestDer) const {
  std::string query = requestDer;
  if (mode() == Mode::WrongDigest) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(requestDer.data());
    TS_REQ* request = d2i_TS_REQ(nullptr, &p, static_cast<long>(requestDer.size()));
    if (request) {
      TS_MSG_IMPRINT* imprint = TS_REQ_get_msg_imprint(request);
      ASN1_OCTET_STRING* hashed = TS_MSG_IMPRINT_get_msg(imprint);
      std::string other =
          FlipFirstByte(Der(ASN1_STRING_get0_data(hashed), ASN1_STRING_length(hashed)));
      TS_MSG_IMPRINT_set_msg(imprint, reinterpret_cast<unsigned char*>(other.data()),
                             static_cast<int>(other.size()));
      query = ToDerOf<TS_REQ, i2d_TS_REQ>(request);
      TS_REQ_free(request);
    }
  }

  std::unique_ptr<TS_RESP_CTX, OpenSslDeleter<TS_RESP_CTX, TS_RESP_CTX_free>> ctx(
      TS_RESP_CTX_new());
  Check(ctx != nullptr, "TS_RESP_CTX_new");
  Check(TS_RESP_CTX_set_signer_cert(ctx.get(), identity_.tsa.cert.get()) == 1,
        "the TSA certificate is not for time stamping");
  Check(TS_RESP_CTX_set_signer_key(ctx.get(), identity_.tsa.key.get()) == 1, "signer key");
  X509Stack chain = Borrowed(identity_.chain);
  Check(TS_RESP_CTX_set_certs(ctx.get(), chain.get()) == 1, "certificates");
  ASN1_OBJECT* policy = OBJ_txt2obj(kTsaPolicy, 1);
  Check(policy && TS_RESP_CTX_set_def_policy(ctx.get(), policy) == 1, "policy");
  ASN1_OBJECT_free(policy);
  for (const EVP_MD* md : {EVP_sha1(), EVP_sha256(), EVP_sha384(), EVP_sha512()}) {
    Check(TS_RESP_CTX_add_md(ctx.get(), md) == 1, "digest");
  }
  Check(TS_RESP_CTX_set_signer_digest(ctx.get(), EVP_sha256()) == 1, "signer digest");
  Check(TS_RESP_CTX_set_accuracy(ctx.get(), 1, 0, 0) == 1, "accuracy");
  TS_RESP_CTX_set_serial_cb(ctx.get(), &NextSerial, &serial_);

  BioPtr in(BIO_new_mem_buf(query.data(), static_cast<int>(query.size())));
  std::unique_ptr<TS_RESP, OpenSslDeleter<TS_RESP, TS_RESP_free>> response(
      TS_RESP_create_response(ctx.get(), in.get()));
  Check(response != nullptr, "TS_RESP_create_response");
  return ToDerOf<TS_RESP, i2d_TS_RESP>(response.get());
}

void TimeStampAuthority::HandleAuthenticode(const httplib::Request& request,
                                            httplib::Response& response) {
  ++authenticodeRequests_;
  Remember(&lastAuthenticode_, request);
  switch (mode()) {
    case Mode::Error500:
      response.status = 500;
      response.set_content(kErrorPage, "text/html");
      return;
    case Mode::Garbage:
      response.set_content("MIIB this is not a timestamp !!", "application/octet-stream");
      return;
    case Mode::Ok:
    case Mode::WrongDigest:
      break;
  }
  const std::optional<std::string> der = DecodeBase64(request.body);
  const std::optional<std::string> value = der ? RequestedSignatureValue(*der) : std::nullopt;
  if (!value) {
    response.status = 400;
    response.set_content("not a time-stamp request", "text/plain");
    return;
  }
  const std::string signed_ =
      SignAuthenticode(mode() == Mode::WrongDigest ? FlipFirstByte(*value) : *value);
  response.set_content(EncodeBase64(signed_), "application/octet-stream");
}

void TimeStampAuthority::HandleRfc3161(const httplib::Request& request,
                                       httplib::Response& response) {
  ++rfc3161Requests_;
  Remember(&lastRfc3161_, request);
  switch (mode()) {
    case Mode::Error500:
      response.status = 500;
      response.set_content(kErrorPage, "text/html");
      return;
    case Mode::Garbage:
      response.set_content(std::string("\x30\x03\x02\x01", 4) + "garbage",
                           "application/timestamp-reply");
      return;
    case Mode::Ok:
    case Mode::WrongDigest:
      break;
  }
  // A request OpenSSL cannot read still gets a TimeStampResp, with the status "rejection".
  response.set_content(RespondRfc3161(request.body), "application/timestamp-reply");
}

void TimeStampAuthority::HandleProbe(const httplib::Request&, httplib::Response& response) {
  ++probeRequests_;
  if (mode() == Mode::Error500) {
    response.status = 500;
    response.set_content(kErrorPage, "text/html");
    return;
  }
  response.set_content("CorvaneCode test time-stamping authority\n", "text/plain");
}

void TimeStampAuthority::Install(httplib::Server& server) {
  auto bind =
      [this](void (TimeStampAuthority::*handler)(const httplib::Request&, httplib::Response&)) {
        return [this, handler](const httplib::Request& request, httplib::Response& response) {
          (this->*handler)(request, response);
        };
      };
  server.Post("/timestamp", bind(&TimeStampAuthority::HandleAuthenticode));
  server.Post("/rfc3161", bind(&TimeStampAuthority::HandleRfc3161));
  server.Get("/timestamp", bind(&TimeStampAuthority::HandleProbe));
  server.Get("/rfc3161", bind(&TimeStampAuthority::HandleProbe));
}

TimestampServer::TimestampServer() : TimestampServer(NewTsaIdentity()) {}

TimestampServer::TimestampServer(TsaIdentity identity) : authority_(std::move(identity)) {
  rootPemPath_ = dir_ / "tsa-root.pem";
  rootDerPath_ = dir_ / "tsa-root.cer";
  if (X509* root = authority_.rootCert()) {
    WriteFileBytes(rootPemPath_, ToPem(root));
    WriteFileBytes(rootDerPath_, ToDer(root));
  }
  auto route =
      [this](void (TimeStampAuthority::*handler)(const httplib::Request&, httplib::Response&)) {
        return [this, handler](const httplib::Request& request, httplib::Response& response) {
          (authority_.*handler)(request, response);
        };
      };
  http_.Post("/timestamp", route(&TimeStampAuthority::HandleAuthenticode));
  http_.Post("/rfc3161", route(&TimeStampAuthority::HandleRfc3161));
  http_.Get("/timestamp", route(&TimeStampAuthority::HandleProbe));
  http_.Get("/rfc3161", route(&TimeStampAuthority::HandleProbe));
}

}  // namespace corvane::test
