// The signing certificate of the main window: where it comes from (a PFX file or the user's
// store), the loaded certificate with its key, its chain and the two flags that steer which
// of the authority's cross-certificates a signature receives.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "cert/cert_identity.h"
#include "cert/cert_store.h"
#include "cert/chain.h"
#include "cert/pfx_import.h"

namespace corvane {

class CertManager {
 public:
  CertManager();
  virtual ~CertManager();
  CertManager(const CertManager&) = delete;
  CertManager& operator=(const CertManager&) = delete;

  // Loads the first certificate of the file that can sign. Raises "undefined" when the file
  // cannot be read, the password is wrong or no certificate has a usable key.
  void LoadPfx(const std::string& path, const std::string& password);
  // The same with the file as it was imported already (a run reads its PFX once).
  void LoadPfx(const std::string& path, const std::string& password, PfxStore imported);

  // Loads a certificate of the user's store ("My"). Raises "undefined" when the issuer name
  // or the serial is empty or no store certificate matches.
  void LoadFromStore(const CertIdentity& identity);

  // True when the file opens with this password. Never raises.
  static bool CheckPfxPassword(const std::string& path, const std::string& password);

  // Identity of the current certificate, from its source.
  CertIdentity GetIdentity() const;

  // Both find the certificate again at its source; they raise "undefined" when it is gone. A
  // PFX file whose bytes have not changed since it was loaded is not decoded again.
  bool IsExpired() const;
  bool IsCodeSigning() const;

  // Rebuilds the chain list for the loaded certificate: from the PFX file, or for a store
  // certificate from a probe signature; then, when still empty, by downloading issuers.
  void BuildChain();

  // Sets ownCaIssued and chineseNamedRoot from the certificate and the chain list.
  void RecognizeOwnCa();

  // The store source; without one every store lookup finds nothing.
  void SetCertStore(std::shared_ptr<CertStore> store) { store_ = std::move(store); }

  // How chains are completed from the network (the default downloads over HTTP).
  void SetIssuerDownloader(IssuerDownloader downloader) { downloader_ = std::move(downloader); }

  X509* certificate() const { return certificate_.get(); }
  EVP_PKEY* privateKey() const { return key_.get(); }
  bool fromPfx() const { return fromPfx_; }
  bool ownCaIssued() const { return ownCaIssued_; }
  bool chineseNamedRoot() const { return chineseNamedRoot_; }
  const ChainList& chain() const { return chain_; }
  const std::string& pfxPath() const { return pfxPath_; }
  const CertIdentity& storeIdentity() const { return storeIdentity_; }

 private:
  void Release();
  // The certificate as its source holds it now, with the source kept alive.
  struct Found {
    std::optional<PfxStore> pfx;
    std::optional<StoreCertificate> store;
    X509* cert = nullptr;
    EVP_PKEY* key = nullptr;
  };
  Found FindAtSource() const;

  CertIdentity storeIdentity_;
  std::string pfxPath_;
  std::string pfxPassword_;
  std::optional<PfxStore> pfxStore_;  // the imported file, alive while its certificate is used
  std::string pfxBytes_;              // the file as it was when it was loaded
  X509Ptr certificate_;
  EvpPkeyPtr key_;
  bool fromPfx_ = false;
  bool ownCaIssued_ = false;
  bool chineseNamedRoot_ = false;
  ChainList chain_;
  std::shared_ptr<CertStore> store_;
  IssuerDownloader downloader_;
};

}  // namespace corvane
