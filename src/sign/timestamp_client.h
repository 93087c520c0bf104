// Getting a timestamp for a signature from a time-stamping authority, in either protocol.
//
// Both functions take a PKCS #7 SignedData (DER), ask the TSA at `url` once about the
// signature value (encryptedDigest) of its first signer, check the answer, and return the
// message with the timestamp added as the last unauthenticated attribute of that signer. Every
// other byte of the signer and of the encapsulated content stays as it was. Any failure
// (unreadable input, transfer, answer, check) gives nullopt.
#pragma once

#include <openssl/evp.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// The longest a transfer to a TSA may take, connecting included.
inline constexpr long kTimestampTimeLimitSeconds = 60;

// The Authenticode protocol: a TimeStampRequest (DER, then base64 in lines of 64 characters
// separated by CRLF) is POSTed with Content-Type application/octet-stream; the answer is a
// base64 PKCS #7 SignedData over the signature value. Its SignerInfo becomes a countersignature
// attribute (1.2.840.113549.1.9.6) and its certificates join the message's certificate set,
// each unless already there.
std::optional<std::string> AddAuthenticodeTimestamp(std::string_view signatureDer,
                                                    const std::string& url);

// RFC 3161: a TimeStampReq (version 1, messageImprint `md` of the signature value, certReq,
// a random 64-bit nonce) is POSTed as application/timestamp-query; the TimeStampResp must be
// granted (or granted with modifications) and its token must carry the same imprint and
// nonce. The token becomes attribute 1.3.6.1.4.1.311.3.3.1.
std::optional<std::string> AddRfc3161Timestamp(std::string_view signatureDer,
                                               const std::string& url, const EVP_MD* md);

// Whether both timestamp URLs of one of the configured hosts answer (any HTTP status counts).
bool IsTimestampReachable();

// How the configured hosts are tried: each in turn, a host up to attemptsPerHost times while
// its transfer times out or it answers 5xx, waiting firstDelay, then twice as long, between
// attempts. A refused connection or an answer that is not a timestamp moves on at once.
struct TimestampRetry {
  int attemptsPerHost = 2;
  std::chrono::milliseconds firstDelay{1000};
};

// CORVANECODE_TIMESTAMP_RETRY_DELAY (seconds, fractions allowed) sets firstDelay.
inline constexpr const char* kTimestampRetryDelayVariable = "CORVANECODE_TIMESTAMP_RETRY_DELAY";

TimestampRetry TimestampRetrySettings();
// Wins over the environment until called with nullopt.
void SetTimestampRetrySettings(std::optional<TimestampRetry> retry);

// The timestamp of the first configured host (server_hosts.h) that gives one, tried as
// TimestampRetry says; the stop request ends the tries. With more than one host, the host that
// answered is written to the run log.
std::optional<std::string> AddTimestampFromHosts(std::string_view signatureDer, bool rfc3161,
                                                 const EVP_MD* md);

// The request body AddAuthenticodeTimestamp sends for a signature value.
std::string AuthenticodeTimestampRequestBody(std::string_view signatureValue);

}  // namespace corvane
