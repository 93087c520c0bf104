#include "sign/authenticode_verifier.h"

#include <mutex>

#include "cert/cert_checks.h"
#include "crypto/der.h"
#include "crypto/signed_message.h"
#include "crypto/trust_store.h"
#include "crypto/x509_names.h"
#include "formats/pe/pe_page_hashes.h"
#include "sign/authenticode_content.h"
#include "sign/hash_algorithm.h"
#include "sign/subject_format.h"
#include "sign/timestamp_verify.h"

namespace corvane {
namespace {

std::mutex g_locationsMutex;
std::vector<std::string> g_locations;

struct StackFree {
  void operator()(STACK_OF(X509) * stack) const { sk_X509_pop_free(stack, X509_free); }
};
struct StoreCtxFree {
  void operator()(X509_STORE_CTX* ctx) const { X509_STORE_CTX_free(ctx); }
};

// Every certificate of the chain that restricts its usages must allow code signing.
bool ChainAllowsCodeSigning(STACK_OF(X509) * chain) {
  for (int i = 0; i < sk_X509_num(chain); ++i) {
    X509* cert = sk_X509_value(chain, i);
    auto* usages = static_cast<EXTENDED_KEY_USAGE*>(
        X509_get_ext_d2i(cert, NID_ext_key_usage, nullptr, nullptr));
    if (!usages) continue;
    bool allowed = false;
    for (int j = 0; j < sk_ASN1_OBJECT_num(usages); ++j) {
      int nid = OBJ_obj2nid(sk_ASN1_OBJECT_value(usages, j));
      allowed = allowed || nid == NID_code_sign || nid == NID_anyExtendedKeyUsage;
    }
    EXTENDED_KEY_USAGE_free(usages);
    if (!allowed) return false;
  }
  return true;
}

std::string VerifyChain(X509* leaf, const std::vector<std::string>& certificates, X509_STORE* trust,
                        std::time_t at) {
  std::unique_ptr<STACK_OF(X509), StackFree> untrusted(sk_X509_new_null());
  for (const std::string& der : certificates) {
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    if (X509* cert = d2i_X509(nullptr, &p, static_cast<long>(der.size())))
      sk_X509_push(untrusted.get(), cert);
  }
  std::unique_ptr<X509_STORE_CTX, StoreCtxFree> ctx(X509_STORE_CTX_new());
  if (!ctx || X509_STORE_CTX_init(ctx.get(), trust, leaf, untrusted.get()) != 1)
    return "chain check failed";
  X509_STORE_CTX_set_time(ctx.get(), 0, at);
  if (X509_verify_cert(ctx.get()) != 1)
    return std::string("certificate chain: ") +
           X509_verify_cert_error_string(X509_STORE_CTX_get_error(ctx.get()));
  if (!ChainAllowsCodeSigning(X509_STORE_CTX_get0_chain(ctx.get())))
    return "a certificate of the chain is not for code signing";
  return {};
}

// The name of the digest algorithm a SignerInfo names; empty when it names none we know.
std::string SignerDigestName(const std::string& signerInfoDer) {
  try {
    der::Node info = der::ParseExact(signerInfoDer);
    der::Node& algorithm = der::Child(info, 2);
    std::optional<HashAlgorithm> hash = HashFromOid(der::OidText(der::Child(algorithm, 0)));
    return hash ? HashName(*hash) : std::string();
  } catch (const std::exception&) {
    return {};
  }
}

SignatureReport CheckSignature(const std::string& blob, SubjectFormat& format, X509_STORE* trust,
                               std::vector<SignatureReport>* nested) {
  SignatureReport report;
  try {
    SignedMessage message = SignedMessage::Decode(blob);
    if (nested) {
      for (const MessageAttribute& attribute : message.UnauthenticatedAttributes(0))
        if (attribute.oid == kOidNestedSignature)
          for (const std::string& value : attribute.values)
            nested->push_back(CheckSignature(value, format, trust, nullptr));
    }
    // A catalog's signature covers its certificate trust list, which lists the digests of
    // its members; every other signature covers indirect data with the file's digest.
    const bool catalog = !format.SignsIndirectData();
    const char* contentType = format.ContentType();
    if (message.ContentType() != contentType) {
      report.problems.push_back(catalog ? "the content is not a certificate trust list"
                                        : "the content is not Authenticode indirect data");
      return report;
    }
    std::string content = message.ContentDer();
    if (catalog) {
      report.digestAlgorithm = SignerDigestName(message.SignerInfo(0));
    } else {
      IndirectDigest indirect;
      if (!ParseIndirectData(content, indirect)) {
        report.problems.push_back("the indirect data does not parse");
        return report;
      }
      std::optional<HashAlgorithm> algorithm = HashFromOid(indirect.digestOid);
      if (!algorithm) {
        report.problems.push_back("unknown digest algorithm " + indirect.digestOid);
        return report;
      }
      report.digestAlgorithm = HashName(*algorithm);
      if (format.Digest(HashMd(*algorithm)) != indirect.digest)
        report.problems.push_back(
            "the file's digest does not match the signature (the file was changed)");
      if (std::optional<PageHashes> pages = ReadPageHashes(content)) {
        report.pageHashes = true;
        std::string computed;
        try {
          computed = pe::PageHashTable(format.path(), HashMd(pages->algorithm));
        } catch (const std::exception&) {
        }
        if (computed != pages->table)
          report.problems.push_back("the page hashes do not match the file's pages");
      }
    }

    std::vector<std::string> certificates = message.Certificates();
    std::optional<SignerCheck> signer = CheckSignerInfo(
        message.SignerInfo(0), IndirectDataSignedBytes(content), certificates, contentType);
    if (!signer) {
      report.problems.push_back("the signer's signature does not verify");
      return report;
    }
    report.signerSubject = SubjectDisplayName(signer->cert.get());
    report.signerIssuer = IssuerDisplayName(signer->cert.get());
    if (!HasCodeSigningUsage(signer->cert.get()))
      report.problems.push_back("the signer's certificate is not for code signing");

    std::time_t at = std::time(nullptr);
    if (std::optional<TimestampInfo> stamp = VerifyTimestamp(message, 0, trust)) {
      report.timestamped = true;
      report.rfc3161 = stamp->rfc3161;
      report.timestamp = stamp->time;
      at = stamp->time;
    }
    if (std::string problem = VerifyChain(signer->cert.get(), certificates, trust, at);
        !problem.empty())
      report.problems.push_back(problem);
  } catch (const std::exception&) {
    report.problems.push_back("the signature does not decode");
  }
  report.valid = report.problems.empty();
  return report;
}

}  // namespace

void SetTrustLocations(const std::vector<std::string>& locations) {
  std::lock_guard lock(g_locationsMutex);
  g_locations = locations;
}

VerifyReport VerifyTrust(const std::string& path) {
  std::vector<std::string> locations;
  {
    std::lock_guard lock(g_locationsMutex);
    locations = g_locations;
  }
  X509StorePtr store = locations.empty() ? BuildDefaultTrustStore() : BuildTrustStore(locations);
  return VerifyTrust(path, store.get());
}

VerifyReport VerifyTrust(const std::string& path, X509_STORE* trust) {
  VerifyReport report;
  try {
    std::unique_ptr<SubjectFormat> format = DetectSubjectFormat(path);
    if (!format) {
      report.primary.problems.push_back("not a file format that carries an Authenticode signature");
      return report;
    }
    std::string blob = format->ReadSignature();
    if (blob.empty()) {
      report.primary.problems.push_back("the file is not signed");
      return report;
    }
    report.signedFile = true;
    report.primary = CheckSignature(blob, *format, trust, &report.nested);
    report.trusted = report.primary.valid;
  } catch (const std::exception& e) {
    report.primary.problems.push_back(std::string("the file cannot be read: ") + e.what());
  }
  return report;
}

}  // namespace corvane
