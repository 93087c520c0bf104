// The user's certificate store on Linux: the PKCS #11 tokens of the chosen modules and the
// certificates on them, each with the private key the token holds for it. Signing keys are
// handles: every private-key operation runs on the token and the key never leaves it.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cert/cert_store.h"
#include "crypto/openssl_ptr.h"

namespace corvane {

// Asked at most once per token and run for the token's user PIN; nullopt: the user cancelled.
using PinPrompt = std::function<std::optional<std::string>(const std::string& tokenLabel)>;

struct TokenInfo {
  std::string module;  // path of the PKCS #11 module
  std::string label;
  std::string manufacturer;
  std::string model;
  std::string serial;
  std::string uri;  // "pkcs11:model=…;manufacturer=…;serial=…;token=…"
};

// A private key on a token.
struct TokenKey {
  std::size_t token = 0;
  EVP_PKEY* key = nullptr;  // owned by the key store
  std::string id;           // CKA_ID bytes
  std::string label;
  std::string publicKeyDer;  // SubjectPublicKeyInfo
};

struct TokenCertificate {
  std::size_t token = 0;
  X509* certificate = nullptr;  // owned by the key store
  EVP_PKEY* key = nullptr;      // owned by the key store; null when the token has no key for it
                                // or is not logged in yet
  bool keyOnToken = false;      // the token holds its key (known from its public half too)
  std::string id;               // CKA_ID bytes
  std::string label;
  std::string uri;  // the certificate's object URI (RFC 7512)
};

// Texts of a refused PIN, raised as "KeyStore::Login, <text>".
inline constexpr char kPinIncorrect[] = "pin incorrect";
inline constexpr char kPinLocked[] = "pin locked";

class KeyStore : public CertStore {
 public:
  // Loads every module; a module that cannot be loaded is left out.
  KeyStore(const std::vector<std::string>& modules, PinPrompt prompt);
  ~KeyStore() override;
  KeyStore(const KeyStore&) = delete;
  KeyStore& operator=(const KeyStore&) = delete;

  // Tokens present in the modules' slots, in module and slot order.
  const std::vector<TokenInfo>& Tokens() const;

  // Logs in to the token once (a token that needs no login is not asked). Raises "user cancel
  // the operation" when the PIN prompt is cancelled and "KeyStore::Login, pin incorrect" (or
  // "pin locked", or "login failed") when the token refuses the PIN.
  void Login(std::size_t token);
  // The same with a prompt of the caller's (a run asks through its front end); without one
  // the store's own prompt asks.
  void Login(std::size_t token, const PinPrompt& prompt);

  // Certificates and private keys of one token or of all, logging in first. The
  // certificates and keys the entries point to stay valid for the life of the store, and so
  // do entries handed out by pointer. Every operation is safe from any thread.
  std::vector<TokenCertificate> Certificates(std::size_t token);
  std::vector<const TokenCertificate*> Certificates();
  std::vector<TokenKey> Keys(std::size_t token);
  // The certificates every token shows without a login (public objects; a token that is
  // logged in already shows its keys' pairings too).
  std::vector<const TokenCertificate*> PublicCertificates();
  // The token holding the certificate of this issuer and serial, found without a login.
  std::optional<std::size_t> FindTokenHolding(const std::string& issuerName,
                                              const std::string& serialHex);

  // First certificate of the store "My" (every token) whose serialHex and issuer simple
  // display name equal the given ones exactly.
  std::optional<StoreCertificate> FindStoreCert(const std::string& storeName,
                                                const std::string& issuerName,
                                                const std::string& serialHex) override;
  std::vector<X509Ptr> ChainCertificates() override;

  const TokenCertificate* FindByIdentity(const std::string& issuerName,
                                         const std::string& serialHex);
  // By object URI (a certificate or private key URI); a pin-value attribute is used as the
  // token's PIN. Raises "undefined" when the text is not a PKCS #11 URI.
  const TokenCertificate* FindByUri(const std::string& uri);
  // Tokens a token URI matches ("pkcs11:token=Signing"), or whose label equals `name`.
  std::vector<std::size_t> FindTokens(const std::string& nameOrUri) const;

  // Writes the certificate onto the token as a public object with the key's CKA_ID.
  // Raises "undefined" when the token refuses it.
  void PutCertificate(std::size_t token, X509* cert, const std::string& id,
                      const std::string& label);

  // Largest RSA modulus the token generates key pairs for (mechanism information), 0 when it
  // generates none.
  unsigned long MaxRsaKeyBits(std::size_t token) const;

  // A new RSA key pair on the token: private, sensitive, not extractable, for signing.
  // Raises "undefined" when the token refuses.
  TokenKey GenerateRsaKey(std::size_t token, unsigned long bits, const std::string& label);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace corvane
