#include "cert/cert_manager.h"

#include "base/paths.h"
#include "base/status.h"
#include "cert/cert_checks.h"
#include "cert/chain_completion.h"
#include "cert/chain_from_signature.h"
#include "cert/own_ca.h"
#include "crypto/cert_decode.h"
#include "crypto/trust_store.h"
#include "crypto/x509_names.h"
#include "net/communicator.h"

namespace corvane {
namespace {

constexpr char kMyStore[] = "My";

}  // namespace

CertManager::CertManager()
    : downloader_([](const std::string& url, const std::string& path) {
        CCommunicator::Download(url, path);
      }) {}

// The key of a store certificate is a handle into the store, so it goes before the store.
CertManager::~CertManager() { Release(); }

void CertManager::Release() {
  certificate_.reset();
  key_.reset();
  pfxStore_.reset();
  pfxBytes_.clear();
}

namespace {

// The file's bytes, empty when it cannot be read.
std::string BytesOf(const std::string& path) {
  try {
    return ReadWholeFile(path);
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace

void CertManager::LoadPfx(const std::string& path, const std::string& password) {
  Release();  // a refused file leaves no certificate behind
  LoadPfx(path, password, ImportPfx(path, password));
}

void CertManager::LoadPfx(const std::string& path, const std::string& password, PfxStore store) {
  Release();
  pfxBytes_ = BytesOf(path);
  pfxPath_ = path;
  pfxPassword_ = password;
  fromPfx_ = true;
  SigningPair pair = FindSigningCertInPfx(store);
  certificate_ = UpRef(pair.certificate);
  key_ = UpRef(pair.key);
  pfxStore_ = std::move(store);
}

void CertManager::LoadFromStore(const CertIdentity& identity) {
  Release();
  if (identity.issuerName.empty() || identity.serialHex.empty()) RaiseStatus(StatusCode::Undefined);
  storeIdentity_ = identity;
  fromPfx_ = false;
  if (!store_) RaiseStatus(StatusCode::Undefined);
  std::optional<StoreCertificate> found =
      store_->FindStoreCert(kMyStore, identity.issuerName, identity.serialHex);
  if (!found) RaiseStatus(StatusCode::Undefined);
  certificate_ = std::move(found->certificate);
  key_ = std::move(found->key);
}

bool CertManager::CheckPfxPassword(const std::string& path, const std::string& password) {
  try {
    ImportPfx(path, password);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

CertManager::Found CertManager::FindAtSource() const {
  Found found;
  if (fromPfx_) {
    // The same bytes decode to the same certificate: only a changed file is decoded again.
    if (pfxStore_ && certificate_ && !pfxBytes_.empty() && BytesOf(pfxPath_) == pfxBytes_) {
      found.cert = certificate_.get();
      found.key = key_.get();
      return found;
    }
    found.pfx = ImportPfx(pfxPath_, pfxPassword_);
    SigningPair pair = FindSigningCertInPfx(*found.pfx);
    found.cert = pair.certificate;
    found.key = pair.key;
  } else {
    if (!store_) RaiseStatus(StatusCode::Undefined);
    found.store =
        store_->FindStoreCert(kMyStore, storeIdentity_.issuerName, storeIdentity_.serialHex);
    if (!found.store) RaiseStatus(StatusCode::Undefined);
    found.cert = found.store->certificate.get();
    found.key = found.store->key.get();
  }
  return found;
}

CertIdentity CertManager::GetIdentity() const {
  if (!fromPfx_) return storeIdentity_;
  Found found = FindAtSource();
  return {SubjectDisplayName(found.cert), IssuerDisplayName(found.cert), SerialHex(found.cert)};
}

bool CertManager::IsExpired() const {
  return IsPastNotAfter(X509_get0_notAfter(FindAtSource().cert));
}

bool CertManager::IsCodeSigning() const { return HasCodeSigningUsage(FindAtSource().cert); }

void CertManager::BuildChain() {
  if (!certificate_) RaiseStatus(StatusCode::Undefined);
  if (fromPfx_) {
    ChainFromPfxStore(chain_, certificate_.get(), pfxStore_->certificates);
  } else {
    ChainFromSignature(chain_, certificate_.get(),
                       store_ ? store_->ChainCertificates() : std::vector<X509Ptr>{});
  }
  if (chain_.empty()) ChainFromAia(chain_, certificate_.get(), downloader_, TemporaryDirectory());
  std::vector<X509Ptr> sourceCerts;
  if (fromPfx_) {
    for (const X509Ptr& cert : pfxStore_->certificates) sourceCerts.push_back(UpRef(cert.get()));
  } else if (store_) {
    sourceCerts = store_->ChainCertificates();
  }
  CompleteChain(chain_, certificate_.get(), KnownChainCertificates(sourceCerts),
                BuildDefaultTrustStore().get());
}

void CertManager::RecognizeOwnCa() {
  ownCaIssued_ = false;
  chineseNamedRoot_ = false;
  if (!certificate_) RaiseStatus(StatusCode::Undefined);
  OwnCaFlags flags = corvane::RecognizeOwnCa(chain_, certificate_.get());
  ownCaIssued_ = flags.ownCaIssued;
  chineseNamedRoot_ = flags.chineseNamedRoot;
}

}  // namespace corvane
