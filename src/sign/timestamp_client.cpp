#include "sign/timestamp_client.h"

#include <openssl/bn.h>
#include <openssl/objects.h>
#include <openssl/rand.h>
#include <openssl/ts.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/run_log.h"
#include "base/worker_registry.h"
#include "crypto/der.h"
#include "crypto/openssl_ptr.h"
#include "crypto/signed_message.h"
#include "net/communicator.h"
#include "net/server_hosts.h"
#include "sign/timestamp_verify.h"

namespace corvane {
namespace {

using TsReqPtr = std::unique_ptr<TS_REQ, OpenSslDeleter<TS_REQ, TS_REQ_free>>;
using TsRespPtr = std::unique_ptr<TS_RESP, OpenSslDeleter<TS_RESP, TS_RESP_free>>;
using TsImprintPtr =
    std::unique_ptr<TS_MSG_IMPRINT, OpenSslDeleter<TS_MSG_IMPRINT, TS_MSG_IMPRINT_free>>;
using X509AlgorPtr = std::unique_ptr<X509_ALGOR, OpenSslDeleter<X509_ALGOR, X509_ALGOR_free>>;
using Asn1IntegerPtr =
    std::unique_ptr<ASN1_INTEGER, OpenSslDeleter<ASN1_INTEGER, ASN1_INTEGER_free>>;
using BignumPtr = std::unique_ptr<BIGNUM, OpenSslDeleter<BIGNUM, BN_free>>;

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kBase64LineLength = 64;

const unsigned char* Bytes(std::string_view s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

std::string Base64Lines(std::string_view bytes) {
  std::string flat;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      group = (group << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    }
    for (std::size_t k = 0; k < 4; ++k) {
      flat += k <= n ? kBase64Alphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
    }
  }
  std::string out;
  for (std::size_t i = 0; i < flat.size(); i += kBase64LineLength) {
    if (i) out += "\r\n";
    out += flat.substr(i, kBase64LineLength);
  }
  return out;
}

// Base64 with white space (line breaks of any kind included) ignored. nullopt for any other
// character outside the alphabet, for padding anywhere but at the end and for a length that
// does not come out in whole groups.
std::optional<std::string> DecodeBase64(std::string_view text) {
  std::array<int, 256> values;
  values.fill(-1);
  for (int i = 0; i < 64; ++i) values[static_cast<unsigned char>(kBase64Alphabet[i])] = i;

  std::string out;
  std::uint32_t group = 0;
  int count = 0;
  int padding = 0;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') continue;
    if (c == '=') {
      ++padding;
      group <<= 6;
      ++count;
    } else {
      const int value = values[static_cast<unsigned char>(c)];
      if (value < 0 || padding) return std::nullopt;
      group = (group << 6) | static_cast<std::uint32_t>(value);
      ++count;
    }
    if (count == 4) {
      if (padding > 2) return std::nullopt;
      out += static_cast<char>((group >> 16) & 0xFF);
      if (padding < 2) out += static_cast<char>((group >> 8) & 0xFF);
      if (padding < 1) out += static_cast<char>(group & 0xFF);
      group = 0;
      count = 0;
      if (padding) padding = 3;  // nothing may follow a padded group
    }
  }
  if (count != 0 || out.empty()) return std::nullopt;
  return out;
}

// How the last transfer of this thread to a TSA ended, for the retry decision.
thread_local TransferOutcome lastOutcome;

std::optional<std::string> Post(const std::string& url, const std::string& body,
                                const std::vector<std::string>& headers) {
  std::string answer;
  lastOutcome = CCommunicator::PostRawWithOutcome(
      url, body, std::chrono::seconds(kTimestampTimeLimitSeconds), headers, answer);
  if (!lastOutcome.completed) return std::nullopt;
  return answer;
}

std::mutex retryMutex;
std::optional<TimestampRetry> retryOverride;

// Waits `delay` unless the stop request comes first; false when it came.
bool WaitUnlessStopped(std::chrono::milliseconds delay) {
  const auto end = std::chrono::steady_clock::now() + delay;
  while (std::chrono::steady_clock::now() < end) {
    if (Workers().stopRequested()) return false;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
        std::chrono::milliseconds(20), end - std::chrono::steady_clock::now()));
  }
  return !Workers().stopRequested();
}

// `message` with `attribute` after the unauthenticated attributes of its first signer.
void AppendAttribute(SignedMessage& message, MessageAttribute attribute) {
  std::vector<MessageAttribute> attributes = message.UnauthenticatedAttributes(0);
  attributes.push_back(std::move(attribute));
  message.SetUnauthenticatedAttributes(0, attributes);
}

template <typename T, int (*I2d)(const T*, unsigned char**)>
std::optional<std::string> ToDer(const T* object) {
  unsigned char* out = nullptr;
  const int n = I2d(object, &out);
  if (n <= 0) return std::nullopt;
  std::string der(reinterpret_cast<char*>(out), static_cast<std::size_t>(n));
  OPENSSL_free(out);
  return der;
}

// A positive 64-bit random nonce.
Asn1IntegerPtr RandomNonce() {
  unsigned char bytes[8];
  if (RAND_bytes(bytes, sizeof bytes) != 1) return nullptr;
  bytes[0] = static_cast<unsigned char>((bytes[0] & 0x7F) | 0x40);
  BignumPtr value(BN_bin2bn(bytes, sizeof bytes, nullptr));
  if (!value) return nullptr;
  return Asn1IntegerPtr(BN_to_ASN1_INTEGER(value.get(), nullptr));
}

std::optional<std::string> Rfc3161Request(const EVP_MD* md, const std::string& digest,
                                          const ASN1_INTEGER* nonce) {
  TsReqPtr request(TS_REQ_new());
  TsImprintPtr imprint(TS_MSG_IMPRINT_new());
  X509AlgorPtr algorithm(X509_ALGOR_new());
  if (!request || !imprint || !algorithm) return std::nullopt;
  X509_ALGOR_set_md(algorithm.get(), md);
  if (TS_MSG_IMPRINT_set_algo(imprint.get(), algorithm.get()) != 1 ||
      TS_MSG_IMPRINT_set_msg(imprint.get(),
                             reinterpret_cast<unsigned char*>(const_cast<char*>(digest.data())),
                             static_cast<int>(digest.size())) != 1 ||
      TS_REQ_set_version(request.get(), 1) != 1 ||
      TS_REQ_set_msg_imprint(request.get(), imprint.get()) != 1 ||
      TS_REQ_set_nonce(request.get(), nonce) != 1 || TS_REQ_set_cert_req(request.get(), 1) != 1) {
    return std::nullopt;
  }
  return ToDer<TS_REQ, i2d_TS_REQ>(request.get());
}

// The token of a granted TimeStampResp about `digest` (under `md`) with `nonce`, byte for
// byte as it arrived.
std::optional<std::string> GrantedToken(const std::string& answer, const EVP_MD* md,
                                        const std::string& digest, const ASN1_INTEGER* nonce) {
  const unsigned char* p = Bytes(answer);
  TsRespPtr response(d2i_TS_RESP(nullptr, &p, static_cast<long>(answer.size())));
  if (!response || p != Bytes(answer) + answer.size()) return std::nullopt;
  const long status =
      ASN1_INTEGER_get(TS_STATUS_INFO_get0_status(TS_RESP_get_status_info(response.get())));
  if (status != TS_STATUS_GRANTED && status != TS_STATUS_GRANTED_WITH_MODS) return std::nullopt;
  TS_TST_INFO* tst = TS_RESP_get_tst_info(response.get());
  if (!tst) return std::nullopt;

  TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(tst);
  const ASN1_OBJECT* algorithm = nullptr;
  X509_ALGOR_get0(&algorithm, nullptr, nullptr, TS_MSG_IMPRINT_get_algo(imprint));
  const ASN1_OCTET_STRING* hashed = TS_MSG_IMPRINT_get_msg(imprint);
  if (OBJ_obj2nid(algorithm) != EVP_MD_get_type(md) || !hashed ||
      std::string_view(reinterpret_cast<const char*>(ASN1_STRING_get0_data(hashed)),
                       static_cast<std::size_t>(ASN1_STRING_length(hashed))) != digest) {
    return std::nullopt;
  }
  const ASN1_INTEGER* echoed = TS_TST_INFO_get_nonce(tst);
  if (!echoed || ASN1_INTEGER_cmp(echoed, nonce) != 0) return std::nullopt;

  // TimeStampResp ::= SEQUENCE { status PKIStatusInfo, timeStampToken ContentInfo OPTIONAL }
  der::Node root = der::ParseExact(answer);
  return der::Encode(der::Child(root, 1));
}

}  // namespace

std::string AuthenticodeTimestampRequestBody(std::string_view signatureValue) {
  // TimeStampRequest ::= SEQUENCE { countersignatureType OBJECT IDENTIFIER,
  //   attributes Attributes OPTIONAL, content ContentInfo }; the attributes are left out.
  const der::Node request = der::Constructed(
      der::kSequence,
      {der::Oid(kOidTimestampRequest),
       der::Constructed(
           der::kSequence,
           {der::Oid(kOidData),
            der::Constructed(der::ContextConstructed(0),
                             {der::Primitive(der::kOctetString, std::string(signatureValue))})})});
  return Base64Lines(der::Encode(request));
}

std::optional<std::string> AddAuthenticodeTimestamp(std::string_view signatureDer,
                                                    const std::string& url) {
  try {
    SignedMessage message = SignedMessage::Decode(signatureDer);
    const std::string signatureValue = message.EncryptedDigest(0);
    const std::optional<std::string> answer =
        Post(url, AuthenticodeTimestampRequestBody(signatureValue),
             {"Content-Type: application/octet-stream", "Accept: application/octet-stream",
              "Cache-Control: no-cache"});
    if (!answer) return std::nullopt;
    const std::optional<std::string> replyDer = DecodeBase64(*answer);
    if (!replyDer) return std::nullopt;

    const SignedMessage reply = SignedMessage::Decode(*replyDer);
    if (reply.ContentType() != kOidData) return std::nullopt;
    const der::Node content = der::Raw(reply.ContentDer());
    if (content.tag != der::kOctetString || der::ContentOf(content) != signatureValue) {
      return std::nullopt;
    }
    const std::string tsaSigner = reply.SignerInfo(0);
    const std::vector<std::string> tsaCerts = reply.Certificates();

    // A countersignature that could never verify is not worth adding: its digest, its
    // signature and its time must be there, checked with the certificates at hand.
    std::vector<std::string> candidates = tsaCerts;
    for (std::string& cert : message.Certificates()) candidates.push_back(std::move(cert));
    const std::optional<SignerCheck> check = CheckSignerInfo(tsaSigner, signatureValue, candidates);
    if (!check || !check->signingTime) return std::nullopt;

    AppendAttribute(message, {kOidCounterSignature, {tsaSigner}});
    for (const std::string& cert : tsaCerts) AddCertToSignature(message, cert);
    return message.Encode();
  } catch (...) {
    return std::nullopt;
  }
}

std::optional<std::string> AddRfc3161Timestamp(std::string_view signatureDer,
                                               const std::string& url, const EVP_MD* md) {
  if (!md) return std::nullopt;
  try {
    SignedMessage message = SignedMessage::Decode(signatureDer);
    const std::string signatureValue = message.EncryptedDigest(0);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (EVP_Digest(signatureValue.data(), signatureValue.size(), digest, &digestLength, md,
                   nullptr) != 1) {
      return std::nullopt;
    }
    const std::string imprint(reinterpret_cast<char*>(digest), digestLength);
    const Asn1IntegerPtr nonce = RandomNonce();
    if (!nonce) return std::nullopt;
    const std::optional<std::string> request = Rfc3161Request(md, imprint, nonce.get());
    if (!request) return std::nullopt;

    const std::optional<std::string> answer =
        Post(url, *request,
             {"Content-Type: application/timestamp-query", "Accept: application/timestamp-reply"});
    if (!answer) return std::nullopt;
    const std::optional<std::string> token = GrantedToken(*answer, md, imprint, nonce.get());
    if (!token || !CheckRfc3161Token(*token, signatureValue)) return std::nullopt;

    AppendAttribute(message, {kOidRfc3161Timestamp, {*token}});
    return message.Encode();
  } catch (...) {
    return std::nullopt;
  }
}

bool IsTimestampReachable() {
  for (const std::string& host : TimestampHosts())
    if (CCommunicator::Probe(TimestampUrlOf(host)) && CCommunicator::Probe(Rfc3161UrlOf(host)))
      return true;
  return false;
}

TimestampRetry TimestampRetrySettings() {
  {
    std::lock_guard<std::mutex> lock(retryMutex);
    if (retryOverride) return *retryOverride;
  }
  TimestampRetry retry;
  if (const char* delay = std::getenv(kTimestampRetryDelayVariable); delay && *delay) {
    char* end = nullptr;
    const double seconds = std::strtod(delay, &end);
    if (end != delay && seconds >= 0)
      retry.firstDelay = std::chrono::milliseconds(static_cast<long>(seconds * 1000));
  }
  return retry;
}

void SetTimestampRetrySettings(std::optional<TimestampRetry> retry) {
  std::lock_guard<std::mutex> lock(retryMutex);
  retryOverride = retry;
}

std::optional<std::string> AddTimestampFromHosts(std::string_view signatureDer, bool rfc3161,
                                                 const EVP_MD* md) {
  const std::vector<std::string> hosts = TimestampHosts();
  const TimestampRetry retry = TimestampRetrySettings();
  for (const std::string& host : hosts) {
    std::chrono::milliseconds delay = retry.firstDelay;
    for (int attempt = 1; attempt <= std::max(1, retry.attemptsPerHost); ++attempt) {
      if (Workers().stopRequested()) return std::nullopt;
      lastOutcome = {};
      std::optional<std::string> stamped =
          rfc3161 ? AddRfc3161Timestamp(signatureDer, Rfc3161UrlOf(host), md)
                  : AddAuthenticodeTimestamp(signatureDer, TimestampUrlOf(host));
      if (stamped) {
        // With one host there is nothing to tell: the run log stays as it was.
        if (hosts.size() > 1)
          LogError("%s, %s", "SignWin::SignerTimeStampEx", ("timestamp host: " + host).c_str());
        return stamped;
      }
      // A server that is busy or slow may answer the next time; one that refuses the
      // connection or answers nonsense will not.
      const bool transient =
          lastOutcome.timedOut || (lastOutcome.httpStatus >= 500 && lastOutcome.httpStatus < 600);
      if (!transient || lastOutcome.cancelled || attempt == retry.attemptsPerHost) break;
      if (!WaitUnlessStopped(delay)) return std::nullopt;
      delay *= 2;
    }
  }
  return std::nullopt;
}

}  // namespace corvane
