#include "zorvat/cert_req_check.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/objects.h>
#include <openssl/pem.h>

#include <climits>

namespace corvane::zorvat {
namespace {

std::string ObjectText(const ASN1_OBJECT* object, int noName) {
  int needed = OBJ_obj2txt(nullptr, 0, object, noName);
  if (needed <= 0) return {};
  std::string text(static_cast<std::size_t>(needed) + 1, '\0');
  OBJ_obj2txt(text.data(), needed + 1, object, noName);
  text.resize(static_cast<std::size_t>(needed));
  return text;
}

bool ValueUtf8(const ASN1_STRING* value, std::string& out) {
  if (ASN1_STRING_type(value) == V_ASN1_UTF8STRING) {
    out.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)),
               static_cast<std::size_t>(ASN1_STRING_length(value)));
    return true;
  }
  unsigned char* utf8 = nullptr;
  int n = ASN1_STRING_to_UTF8(&utf8, value);
  if (n < 0) return false;
  out.assign(reinterpret_cast<const char*>(utf8), static_cast<std::size_t>(n));
  OPENSSL_free(utf8);
  return true;
}

}  // namespace

X509ReqPtr LoadCertReq(const Source& source, std::string& errorText) {
  std::optional<std::string> bytes = ReadSource(source, "open Req file error", errorText);
  if (!bytes) return nullptr;
  if (bytes->size() > static_cast<std::size_t>(INT_MAX)) {
    errorText = "Make Mem Bio Error";
    return nullptr;
  }
  X509ReqPtr req;
  {
    BioPtr bio(BIO_new_mem_buf(bytes->data(), static_cast<int>(bytes->size())));
    if (!bio) {
      errorText = "Make Mem Bio Error";
      return nullptr;
    }
    req.reset(PEM_read_bio_X509_REQ(bio.get(), nullptr, nullptr, nullptr));
  }
  if (!req) {
    // "NEW CERTIFICATE REQUEST" is the other armour PEM_read_bio_X509_REQ accepts; DER last.
    const auto* p = reinterpret_cast<const unsigned char*>(bytes->data());
    req.reset(d2i_X509_REQ(nullptr, &p, static_cast<long>(bytes->size())));
  }
  if (!req) errorText = "bad input format specified for X509 Request\n";
  return req;
}

bool FormatSubject(const X509_NAME* name, std::string& out) {
  for (int i = X509_NAME_entry_count(name) - 1; i >= 0; --i) {
    const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
    const ASN1_OBJECT* object = X509_NAME_ENTRY_get_object(entry);
    int nid = OBJ_obj2nid(object);
    std::string key = nid != NID_undef ? OBJ_nid2sn(nid) : ObjectText(object, 1);
    std::string value;
    if (!ValueUtf8(X509_NAME_ENTRY_get_data(entry), value)) return false;
    out += key + "=" + value + " \r\n";
  }
  return true;
}

bool CheckCertReq(const Source& source, CertReqInfo& info, std::string& errorText) {
  X509ReqPtr req = LoadCertReq(source, errorText);
  if (!req) {
    errorText = "Loading Req is error.";
    return false;
  }
  long version = X509_REQ_get_version(req.get());
  info.version = version < 0 ? 0u : static_cast<unsigned>(version);

  EVP_PKEY* key = X509_REQ_get0_pubkey(req.get());
  if (!key) {
    errorText = "error unpacking public key\n";
    return false;
  }
  int verified = X509_REQ_verify(req.get(), key);
  if (verified < 0) {
    errorText = "Signature verification problems....\n";
    return false;
  }
  if (verified == 0) {
    errorText = "Signature did not match the certificate request\n";
    return false;
  }

  switch (EVP_PKEY_get_base_id(key)) {
    case EVP_PKEY_RSA:
      info.keyAlgorithm = "RSA";
      info.keyBits = EVP_PKEY_get_bits(key);
      if (info.keyBits <= 0) {
        errorText = "Get RSA Failed";
        return false;
      }
      break;
    case EVP_PKEY_DSA: {
      BIGNUM* pub = nullptr;
      if (EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PUB_KEY, &pub) != 1) {
        errorText = "Get DSA Failed";
        return false;
      }
      info.keyAlgorithm = "DSA";
      info.keyBits = BN_num_bits(pub);
      BN_free(pub);
      // A public value of a 1024-bit key may have its top bit clear.
      if (info.keyBits == 1023) info.keyBits = 1024;
      break;
    }
    default:
      break;
  }

  const X509_NAME* subject = X509_REQ_get_subject_name(req.get());
  if (!subject) {
    errorText = "Get Req Subject error.";
    return false;
  }
  if (!FormatSubject(subject, info.subject)) {
    errorText = "Get Req Subject content error.";
    return false;
  }

  const X509_ALGOR* algorithm = nullptr;
  X509_REQ_get0_signature(req.get(), nullptr, &algorithm);
  const ASN1_OBJECT* object = nullptr;
  if (algorithm) X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio) {
    errorText = "Create BIO mem err.";
    return false;
  }
  if (object && i2a_ASN1_OBJECT(bio.get(), object) > 0) {
    BUF_MEM* mem = nullptr;
    BIO_get_mem_ptr(bio.get(), &mem);
    if (mem) info.signatureAlgorithm.assign(mem->data, mem->length);
  }
  return true;
}

}  // namespace corvane::zorvat
