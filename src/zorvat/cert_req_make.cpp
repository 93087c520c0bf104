#include "zorvat/cert_req_make.h"

#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <memory>

namespace corvane::zorvat {
namespace {

using X509ReqPtr = std::unique_ptr<X509_REQ, OpenSslDeleter<X509_REQ, X509_REQ_free>>;
using Asn1ObjectPtr = std::unique_ptr<ASN1_OBJECT, OpenSslDeleter<ASN1_OBJECT, ASN1_OBJECT_free>>;

constexpr char kMakeError[] = "Make CertReq Error";
constexpr char kSaveError[] = "Save Cert or Key File Error";

// The attribute's object: a dotted key is taken as a number without touching OpenSSL's
// global object table; a name OpenSSL does not know gives null (the entry is skipped).
Asn1ObjectPtr AttributeObject(const std::string& key) {
  if (key.find('.') != std::string::npos) return Asn1ObjectPtr(OBJ_txt2obj(key.c_str(), 1));
  int nid = OBJ_txt2nid(key.c_str());
  if (nid == NID_undef) return nullptr;
  return Asn1ObjectPtr(OBJ_dup(OBJ_nid2obj(nid)));
}

bool AddSubjectEntries(X509_NAME* name, const std::vector<SubjectEntry>& entries) {
  for (const SubjectEntry& entry : entries) {
    if (entry.value.empty()) continue;
    Asn1ObjectPtr object = AttributeObject(entry.key);
    if (!object) continue;
    if (entry.value.size() > static_cast<std::size_t>(INT32_MAX)) return false;
    // The e-mail address is ASCII by the tab's rule and goes in as IA5String; everything
    // else as the UTF-8 bytes of the text.
    int type =
        OBJ_obj2nid(object.get()) == NID_pkcs9_emailAddress ? V_ASN1_IA5STRING : V_ASN1_UTF8STRING;
    if (X509_NAME_add_entry_by_OBJ(name, object.get(), type,
                                   reinterpret_cast<const unsigned char*>(entry.value.data()),
                                   static_cast<int>(entry.value.size()), -1, 0) != 1)
      return false;
  }
  return true;
}

// Every request carries the PKCS #9 extensionRequest attribute with an empty SEQUENCE.
bool AddEmptyExtensionRequest(X509_REQ* req) {
  static const unsigned char kEmptySequence[] = {0x30, 0x00};
  return X509_REQ_add1_attr_by_NID(req, NID_ext_req, V_ASN1_SEQUENCE, kEmptySequence,
                                   sizeof kEmptySequence) == 1;
}

bool BioText(BIO* bio, std::string& out) {
  BUF_MEM* mem = nullptr;
  if (BIO_get_mem_ptr(bio, &mem) != 1 || !mem) return false;
  out.assign(mem->data, mem->length);
  return true;
}

}  // namespace

EvpPkeyPtr GenerateRsaKey(int bits) {
  // OpenSSL seeds its own generator from the operating system.
  return EvpPkeyPtr(EVP_RSA_gen(static_cast<unsigned>(std::max(bits, kMinRsaBits))));
}

bool MakeCertReqWithKey(const std::vector<SubjectEntry>& entries, EVP_PKEY* key,
                        std::string& csrPem, std::string& errorText) {
  X509ReqPtr req(X509_REQ_new());
  bool built = key && req && X509_REQ_set_version(req.get(), 0) == 1 &&
               X509_REQ_set_pubkey(req.get(), key) == 1 &&
               AddSubjectEntries(X509_REQ_get_subject_name(req.get()), entries) &&
               AddEmptyExtensionRequest(req.get()) && X509_REQ_sign(req.get(), key, EVP_sha1()) > 0;
  if (!built) {
    errorText = kMakeError;
    return false;
  }
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_X509_REQ(bio.get(), req.get()) != 1 || !BioText(bio.get(), csrPem)) {
    errorText += kSaveError;
    return false;
  }
  return true;
}

bool PrivateKeyPem(EVP_PKEY* key, std::string& keyPem, std::string& errorText) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || !key ||
      PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
      !BioText(bio.get(), keyPem)) {
    errorText += kSaveError;
    return false;
  }
  return true;
}

bool MakeCertReq(const std::vector<SubjectEntry>& entries, int keyBits, std::string& csrPem,
                 std::string& keyPem, std::string& errorText) {
  EvpPkeyPtr key = GenerateRsaKey(keyBits);
  if (!key) {
    errorText = kMakeError;
    return false;
  }
  return MakeCertReqWithKey(entries, key.get(), csrPem, errorText) &&
         PrivateKeyPem(key.get(), keyPem, errorText);
}

}  // namespace corvane::zorvat
