// Making the final signature of a working copy: the hash algorithm, the signing service
// call and its result codes, the timestamp, the certificates the signature must carry and
// the nesting of an appended signature.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cert/chain.h"
#include "sign/authenticode_signer.h"
#include "sign/hash_algorithm.h"

namespace corvane {

enum class TimestampProtocol { Authenticode, Rfc3161 };

// Raises the status text a signing-service result code stands for (logging every non-zero
// code); returns for zero and for codes without a text of their own.
void CheckResult(std::uint32_t code);

// The certificate's signature algorithm decides: SHA-256/384/512 certificates give that hash
// when the key passes the SHA-256 probe, SHA-1 otherwise; every other certificate gives SHA-1.
HashAlgorithm ChooseHashAlgorithm(const SignerCertificate& signer);

// Signs the probe cabinet with SHA-256. True when that works; raises "algorithm is not
// supported" when the key refuses the algorithm; false for any other failure.
bool ProbeSha256(const SignerCertificate& signer);

// A fresh copy of the probe cabinet in the temporary directory, removed with the object. Each
// probe signs its own copy, so signing processes that run side by side never sign one file
// at the same time. Its name carries the process id, so that the copy of a process killed while
// probing is removed by the next probe.
class TempFileForSign {
 public:
  TempFileForSign();  // raises "Sign::GetTempFileForSign, invalid path" when it cannot be written
  ~TempFileForSign();
  TempFileForSign(const TempFileForSign&) = delete;
  TempFileForSign& operator=(const TempFileForSign&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The file at `path` opened as its format for a signing; raises what CheckResult raises for a
// file of no known format or one that does not parse as its format.
std::unique_ptr<SubjectFormat> OpenForSigning(const std::string& path);

// Signs the file at `path` in place and returns the signature as written. When `timestamp`
// is true it asks for a timestamp and sets it to whether one was added.
std::string PlatformSign(const SignerCertificate& signer, const std::string& path, bool& timestamp,
                         TimestampProtocol protocol = TimestampProtocol::Authenticode);
// The same with the hash already chosen by ChooseHashAlgorithm for this signer; `write` as
// for SignerSignEx.
std::string PlatformSign(const SignerCertificate& signer, const std::string& path, bool& timestamp,
                         TimestampProtocol protocol, HashAlgorithm algorithm,
                         SignatureWrite write = SignatureWrite::IntoFile);
// The same for a file already open.
std::string PlatformSign(const SignerCertificate& signer, SubjectFormat& file, bool& timestamp,
                         TimestampProtocol protocol, HashAlgorithm algorithm,
                         SignatureWrite write = SignatureWrite::IntoFile);

// The signature embedded in a file of a known format; raises "undefined" when there is none
// that decodes with at least one signer.
std::string ReadEmbeddedSignature(const std::string& path);
std::string ReadEmbeddedSignature(const SubjectFormat& file);

// The authority's cross-certificate (when the certificate is of its hierarchy) and the chain.
std::string AddCertificates(const std::string& blob, bool ownCaIssued, bool chineseNamedRoot,
                            const ChainList& chain);

// The kernel cross-certificates: the built-in ones, or the one of `crossCertFile`.
std::string AddKernelCrossCertificates(const std::string& blob, const std::string& crossCertFile,
                                       bool chineseNamedRoot);

}  // namespace corvane
