#include "cert/key_store.h"

#include <dlfcn.h>
#include <libp11.h>
#include <openssl/err.h>
#include <openssl/rand.h>
#include <p11-kit/uri.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>

#include "base/status.h"
#include "crypto/x509_names.h"

namespace corvane {
namespace {

constexpr char kMyStore[] = "My";
constexpr CK_RV kCkrPinIncorrect = 0xA0;
constexpr CK_RV kCkrPinLocked = 0xA4;

struct UriFree {
  void operator()(P11KitUri* uri) const { p11_kit_uri_free(uri); }
};
using UriPtr = std::unique_ptr<P11KitUri, UriFree>;

void Pad(unsigned char* field, std::size_t size, const char* text) {
  std::memset(field, ' ', size);
  if (text) std::memcpy(field, text, std::min(size, std::strlen(text)));
}

CK_TOKEN_INFO TokenInfoOf(const PKCS11_TOKEN* token) {
  CK_TOKEN_INFO info{};
  Pad(info.label, sizeof info.label, token->label);
  Pad(info.manufacturerID, sizeof info.manufacturerID, token->manufacturer);
  Pad(info.model, sizeof info.model, token->model);
  Pad(info.serialNumber, sizeof info.serialNumber, token->serialnr);
  return info;
}

std::string FormatUri(P11KitUri* uri, P11KitUriType type) {
  char* text = nullptr;
  std::string result;
  if (p11_kit_uri_format(uri, type, &text) == P11_KIT_URI_OK && text) result = text;
  std::free(text);
  return result;
}

std::string TokenUri(const PKCS11_TOKEN* token) {
  UriPtr uri(p11_kit_uri_new());
  *p11_kit_uri_get_token_info(uri.get()) = TokenInfoOf(token);
  return FormatUri(uri.get(), P11_KIT_URI_FOR_TOKEN);
}

// The attributes an object URI is matched against.
struct ObjectAttributes {
  CK_OBJECT_CLASS objectClass;
  std::string id;
  std::string label;
  CK_ATTRIBUTE list[3];
  ObjectAttributes(CK_OBJECT_CLASS c, std::string i, std::string l)
      : objectClass(c), id(std::move(i)), label(std::move(l)) {
    list[0] = {CKA_CLASS, &objectClass, sizeof objectClass};
    list[1] = {CKA_ID, id.data(), id.size()};
    list[2] = {CKA_LABEL, label.data(), label.size()};
  }
  ObjectAttributes(const ObjectAttributes&) = delete;
};

std::string ObjectUri(const PKCS11_TOKEN* token, CK_OBJECT_CLASS objectClass, const std::string& id,
                      const std::string& label) {
  UriPtr uri(p11_kit_uri_new());
  *p11_kit_uri_get_token_info(uri.get()) = TokenInfoOf(token);
  ObjectAttributes attributes(objectClass, id, label);
  for (CK_ATTRIBUTE& a : attributes.list)
    if (a.type != CKA_LABEL || !label.empty()) p11_kit_uri_set_attribute(uri.get(), &a);
  return FormatUri(uri.get(), P11_KIT_URI_FOR_OBJECT_ON_TOKEN);
}

std::string PublicKeyDer(EVP_PKEY* key) {
  unsigned char* der = nullptr;
  int length = i2d_PUBKEY(key, &der);
  std::string result;
  if (length > 0) result.assign(reinterpret_cast<char*>(der), static_cast<std::size_t>(length));
  OPENSSL_free(der);
  return result;
}

std::string Bytes(const unsigned char* data, std::size_t size) {
  return data ? std::string(reinterpret_cast<const char*>(data), size) : std::string();
}

// A PKCS #11 module loaded once for every store that uses it at the same time: unloading
// finalises the module, which would end the sessions of a store still in use. Once the last
// store lets go it is unloaded, so the next store initialises it again and sees the tokens
// present then.
struct LoadedModule {
  std::string path;
  PKCS11_CTX* ctx = nullptr;
  void* library = nullptr;  // our own reference, for the calls libp11 does not offer
  CK_FUNCTION_LIST* functions = nullptr;
  CK_INFO info{};

  ~LoadedModule() {
    if (ctx) {
      PKCS11_CTX_unload(ctx);
      PKCS11_CTX_free(ctx);
    }
    if (library) dlclose(library);
  }

  static std::shared_ptr<LoadedModule> Acquire(const std::string& path) {
    static std::mutex mutex;
    static std::map<std::string, std::weak_ptr<LoadedModule>> loaded;
    std::lock_guard lock(mutex);
    if (std::shared_ptr<LoadedModule> module = loaded[path].lock()) return module;
    auto module = std::make_shared<LoadedModule>();
    module->path = path;
    module->ctx = PKCS11_CTX_new();
    if (!module->ctx) return nullptr;
    if (PKCS11_CTX_load(module->ctx, path.c_str()) != 0) {
      PKCS11_CTX_free(module->ctx);
      module->ctx = nullptr;
      ERR_clear_error();
      return nullptr;
    }
    // The same library libp11 loaded, so the same initialised module.
    module->library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module->library) {
      auto getList =
          reinterpret_cast<CK_C_GetFunctionList>(dlsym(module->library, "C_GetFunctionList"));
      if (getList) getList(&module->functions);
      if (module->functions) module->functions->C_GetInfo(&module->info);
    }
    loaded[path] = module;
    return module;
  }
};

}  // namespace

struct KeyStore::Impl {
  struct Module {
    std::shared_ptr<LoadedModule> loaded;
    PKCS11_CTX* ctx = nullptr;
    PKCS11_SLOT* slots = nullptr;
    unsigned int slotCount = 0;
    CK_FUNCTION_LIST* functions = nullptr;
    CK_INFO info{};
  };
  struct Token {
    Module* module = nullptr;
    PKCS11_SLOT* slot = nullptr;
    bool loggedIn = false;
    std::optional<std::string> pin;  // given in a URI
    bool listed = false;
    std::vector<TokenCertificate> certificates;
    std::vector<TokenKey> keys;
    std::vector<X509Ptr> ownedCerts;
    std::vector<EvpPkeyPtr> ownedKeys;
  };

  // Every public operation holds it: a view may list a token while a run signs with it.
  std::recursive_mutex mutex;
  PinPrompt prompt;
  std::vector<std::unique_ptr<Module>> modules;
  std::vector<Token> tokens;
  // Objects of earlier listings: pointers handed out stay valid for the store's life.
  std::vector<X509Ptr> retiredCerts;
  std::vector<EvpPkeyPtr> retiredKeys;
  std::vector<TokenInfo> infos;
  // Entries handed out by pointer: they stay where they are for the store's life.
  std::deque<TokenCertificate> handedOut;

  const TokenCertificate* Keep(const TokenCertificate& cert) {
    handedOut.push_back(cert);
    return &handedOut.back();
  }
  Token& At(std::size_t index) {
    if (index >= tokens.size()) RaiseStatus(StatusCode::Undefined);
    return tokens[index];
  }
  void Forget(Token& token) {
    token.listed = false;
    token.certificates.clear();
    token.keys.clear();
    for (X509Ptr& cert : token.ownedCerts) retiredCerts.push_back(std::move(cert));
    for (EvpPkeyPtr& key : token.ownedKeys) retiredKeys.push_back(std::move(key));
    token.ownedCerts.clear();
    token.ownedKeys.clear();
  }
  void List(std::size_t index);
};

KeyStore::KeyStore(const std::vector<std::string>& modulePaths, PinPrompt prompt)
    : impl_(std::make_unique<Impl>()) {
  impl_->prompt = std::move(prompt);
  for (const std::string& path : modulePaths) {
    auto module = std::make_unique<Impl::Module>();
    module->loaded = LoadedModule::Acquire(path);
    if (!module->loaded) continue;
    module->ctx = module->loaded->ctx;
    module->functions = module->loaded->functions;
    module->info = module->loaded->info;
    if (PKCS11_enumerate_slots(module->ctx, &module->slots, &module->slotCount) != 0) {
      module->slots = nullptr;
      module->slotCount = 0;
    }
    for (unsigned int i = 0; i < module->slotCount; ++i) {
      PKCS11_SLOT* slot = &module->slots[i];
      if (!slot->token || !slot->token->initialized) continue;
      Impl::Token token;
      token.module = module.get();
      token.slot = slot;
      impl_->tokens.push_back(std::move(token));
      impl_->infos.push_back({path, slot->token->label ? slot->token->label : "",
                              slot->token->manufacturer ? slot->token->manufacturer : "",
                              slot->token->model ? slot->token->model : "",
                              slot->token->serialnr ? slot->token->serialnr : "",
                              TokenUri(slot->token)});
    }
    impl_->modules.push_back(std::move(module));
  }
  ERR_clear_error();
}

KeyStore::~KeyStore() {
  for (Impl::Token& token : impl_->tokens) impl_->Forget(token);
  impl_->retiredCerts.clear();
  impl_->retiredKeys.clear();
  for (auto& module : impl_->modules) {
    if (module->slots) PKCS11_release_all_slots(module->ctx, module->slots, module->slotCount);
  }
}

const std::vector<TokenInfo>& KeyStore::Tokens() const { return impl_->infos; }

void KeyStore::Login(std::size_t index) { Login(index, impl_->prompt); }

void KeyStore::Login(std::size_t index, const PinPrompt& prompt) {
  std::lock_guard lock(impl_->mutex);
  Impl::Token& token = impl_->At(index);
  if (token.loggedIn) return;
  PKCS11_SLOT* slot = token.slot;
  int loggedIn = 0;
  if (PKCS11_is_logged_in(slot, 0, &loggedIn) == 0 && loggedIn) {
    token.loggedIn = true;
    return;
  }
  if (!slot->token->loginRequired) {
    token.loggedIn = true;
    return;
  }
  std::optional<std::string> pin = token.pin;
  const PinPrompt& ask = prompt ? prompt : impl_->prompt;
  if (!pin && ask) pin = ask(impl_->infos[index].label);
  if (!pin) RaiseStatus(StatusCode::UserCancel);
  ERR_clear_error();
  if (PKCS11_open_session(slot, 1) != 0 || PKCS11_login(slot, 0, pin->c_str()) != 0) {
    unsigned long error = ERR_peek_last_error();
    ERR_clear_error();
    CK_RV reason = ERR_GET_REASON(error);
    if (slot->token->userPinLocked || reason == kCkrPinLocked)
      RaiseStatus("%s, %s", "KeyStore::Login", kPinLocked);
    if (reason == kCkrPinIncorrect) RaiseStatus("%s, %s", "KeyStore::Login", kPinIncorrect);
    RaiseStatus("%s, %s", "KeyStore::Login", "login failed");
  }
  OPENSSL_cleanse(pin->data(), pin->size());
  token.loggedIn = true;
  impl_->Forget(token);  // private objects are visible now
}

void KeyStore::Impl::List(std::size_t index) {
  Token& token = At(index);
  if (token.listed) return;
  Forget(token);
  PKCS11_TOKEN* p11 = token.slot->token;
  PKCS11_KEY* keys = nullptr;
  unsigned int keyCount = 0;
  if (PKCS11_enumerate_keys(p11, &keys, &keyCount) != 0) keyCount = 0;
  std::map<PKCS11_KEY*, EVP_PKEY*> handles;
  for (unsigned int i = 0; i < keyCount; ++i) {
    EvpPkeyPtr key(PKCS11_get_private_key(&keys[i]));
    if (!key) continue;
    TokenKey entry{index, key.get(), Bytes(keys[i].id, keys[i].id_len),
                   keys[i].label ? keys[i].label : "", PublicKeyDer(key.get())};
    handles[&keys[i]] = key.get();
    token.ownedKeys.push_back(std::move(key));
    token.keys.push_back(std::move(entry));
  }
  // Public halves tell, before a login, which certificates have their key on the token: the
  // key pair and its certificate share a CKA_ID.
  std::set<std::string> publicKeyIds;
  PKCS11_KEY* pubs = nullptr;
  unsigned int pubCount = 0;
  if (PKCS11_enumerate_public_keys(p11, &pubs, &pubCount) != 0) pubCount = 0;
  for (unsigned int i = 0; i < pubCount; ++i)
    publicKeyIds.insert(Bytes(pubs[i].id, pubs[i].id_len));
  PKCS11_CERT* certs = nullptr;
  unsigned int certCount = 0;
  if (PKCS11_enumerate_certs(p11, &certs, &certCount) != 0) certCount = 0;
  for (unsigned int i = 0; i < certCount; ++i) {
    if (!certs[i].x509) continue;
    X509Ptr cert = UpRef(certs[i].x509);
    TokenCertificate entry;
    entry.token = index;
    entry.certificate = cert.get();
    entry.id = Bytes(certs[i].id, certs[i].id_len);
    entry.label = certs[i].label ? certs[i].label : "";
    entry.uri = ObjectUri(p11, CKO_CERTIFICATE, entry.id, entry.label);
    // The key is the one of the same CKA_ID whose public half is the certificate's.
    std::string certKey = PublicKeyDer(X509_get0_pubkey(cert.get()));
    for (const TokenKey& key : token.keys)
      if (!entry.id.empty() && key.id == entry.id && key.publicKeyDer == certKey) {
        entry.key = key.key;
        break;
      }
    entry.keyOnToken =
        entry.key != nullptr || (!entry.id.empty() && publicKeyIds.count(entry.id) != 0);
    token.ownedCerts.push_back(std::move(cert));
    token.certificates.push_back(std::move(entry));
  }
  ERR_clear_error();
  token.listed = true;
}

std::vector<TokenCertificate> KeyStore::Certificates(std::size_t token) {
  std::lock_guard lock(impl_->mutex);
  Login(token);
  impl_->List(token);
  return impl_->tokens[token].certificates;
}

std::vector<const TokenCertificate*> KeyStore::Certificates() {
  std::lock_guard lock(impl_->mutex);
  std::vector<const TokenCertificate*> all;
  for (std::size_t i = 0; i < impl_->tokens.size(); ++i)
    for (const TokenCertificate& cert : Certificates(i)) all.push_back(impl_->Keep(cert));
  return all;
}

std::vector<const TokenCertificate*> KeyStore::PublicCertificates() {
  std::lock_guard lock(impl_->mutex);
  std::vector<const TokenCertificate*> all;
  for (std::size_t i = 0; i < impl_->tokens.size(); ++i) {
    impl_->List(i);
    for (const TokenCertificate& cert : impl_->tokens[i].certificates)
      all.push_back(impl_->Keep(cert));
  }
  return all;
}

std::vector<TokenKey> KeyStore::Keys(std::size_t token) {
  std::lock_guard lock(impl_->mutex);
  Login(token);
  impl_->List(token);
  return impl_->tokens[token].keys;
}

namespace {

bool HasIdentity(const TokenCertificate& cert, const std::string& issuerName,
                 const std::string& serialHex) {
  return SerialHex(cert.certificate) == serialHex &&
         IssuerDisplayName(cert.certificate) == issuerName;
}

}  // namespace

std::optional<std::size_t> KeyStore::FindTokenHolding(const std::string& issuerName,
                                                      const std::string& serialHex) {
  std::lock_guard lock(impl_->mutex);
  // Certificates are public objects: finding the token asks no token for its PIN.
  for (std::size_t i = 0; i < impl_->tokens.size(); ++i) {
    impl_->List(i);
    for (const TokenCertificate& cert : impl_->tokens[i].certificates)
      if (HasIdentity(cert, issuerName, serialHex)) return i;
  }
  return std::nullopt;
}

const TokenCertificate* KeyStore::FindByIdentity(const std::string& issuerName,
                                                 const std::string& serialHex) {
  std::lock_guard lock(impl_->mutex);
  std::optional<std::size_t> token = FindTokenHolding(issuerName, serialHex);
  if (!token) return nullptr;
  // Only the token that holds the match is asked for its PIN, to pair the certificate with
  // its private key.
  for (const TokenCertificate& cert : Certificates(*token))
    if (HasIdentity(cert, issuerName, serialHex)) return impl_->Keep(cert);
  return nullptr;
}

std::optional<StoreCertificate> KeyStore::FindStoreCert(const std::string& storeName,
                                                        const std::string& issuerName,
                                                        const std::string& serialHex) {
  std::lock_guard lock(impl_->mutex);
  if (storeName != kMyStore) return std::nullopt;
  const TokenCertificate* found = FindByIdentity(issuerName, serialHex);
  if (!found) return std::nullopt;
  StoreCertificate result;
  result.certificate = UpRef(found->certificate);
  if (found->key) result.key = UpRef(found->key);
  return result;
}

std::vector<X509Ptr> KeyStore::ChainCertificates() {
  // Issuers are public objects too: building a chain logs in to no token.
  std::vector<X509Ptr> certs;
  for (const TokenCertificate* cert : PublicCertificates())
    certs.push_back(UpRef(cert->certificate));
  return certs;
}

std::vector<std::size_t> KeyStore::FindTokens(const std::string& nameOrUri) const {
  std::lock_guard lock(impl_->mutex);
  std::vector<std::size_t> found;
  UriPtr uri(p11_kit_uri_new());
  bool isUri =
      nameOrUri.rfind("pkcs11:", 0) == 0 &&
      p11_kit_uri_parse(nameOrUri.c_str(), P11_KIT_URI_FOR_ANY, uri.get()) == P11_KIT_URI_OK;
  for (std::size_t i = 0; i < impl_->tokens.size(); ++i) {
    const Impl::Token& token = impl_->tokens[i];
    CK_TOKEN_INFO info = TokenInfoOf(token.slot->token);
    bool match = isUri ? p11_kit_uri_match_token_info(uri.get(), &info) &&
                             p11_kit_uri_match_module_info(uri.get(), &token.module->info)
                       : impl_->infos[i].label == nameOrUri;
    if (match) found.push_back(i);
  }
  return found;
}

const TokenCertificate* KeyStore::FindByUri(const std::string& text) {
  std::lock_guard lock(impl_->mutex);
  UriPtr uri(p11_kit_uri_new());
  if (text.rfind("pkcs11:", 0) != 0 ||
      p11_kit_uri_parse(text.c_str(), P11_KIT_URI_FOR_ANY, uri.get()) != P11_KIT_URI_OK)
    RaiseStatus(StatusCode::Undefined);
  const char* pinValue = p11_kit_uri_get_pin_value(uri.get());
  const std::vector<std::size_t> candidates = FindTokens(text);
  // A certificate URI is matched against public objects first, so only the token that holds
  // the certificate is asked for its PIN.
  for (std::size_t index : candidates) {
    impl_->List(index);
    std::optional<TokenCertificate> match;
    for (const TokenCertificate& cert : impl_->tokens[index].certificates) {
      ObjectAttributes asCert(CKO_CERTIFICATE, cert.id, cert.label);
      if (p11_kit_uri_match_attributes(uri.get(), asCert.list, 3)) {
        match = cert;
        break;
      }
    }
    if (!match) continue;
    // Logging in lists the token anew, with its private keys.
    if (pinValue && !impl_->tokens[index].loggedIn) impl_->tokens[index].pin = pinValue;
    for (const TokenCertificate& paired : Certificates(index))
      if (paired.id == match->id && X509_cmp(paired.certificate, match->certificate) == 0)
        return impl_->Keep(paired);
  }
  for (std::size_t index : candidates) {
    if (pinValue && !impl_->tokens[index].loggedIn) impl_->tokens[index].pin = pinValue;
    for (const TokenCertificate& cert : Certificates(index)) {
      ObjectAttributes asCert(CKO_CERTIFICATE, cert.id, cert.label);
      if (p11_kit_uri_match_attributes(uri.get(), asCert.list, 3)) return impl_->Keep(cert);
      for (const TokenKey& key : impl_->tokens[index].keys) {
        if (key.key != cert.key || !cert.key) continue;
        ObjectAttributes asKey(CKO_PRIVATE_KEY, key.id, key.label);
        if (p11_kit_uri_match_attributes(uri.get(), asKey.list, 3)) return impl_->Keep(cert);
      }
    }
  }
  return nullptr;
}

void KeyStore::PutCertificate(std::size_t index, X509* cert, const std::string& id,
                              const std::string& label) {
  std::lock_guard lock(impl_->mutex);
  Impl::Token& token = impl_->At(index);
  Login(index);
  std::string idCopy = id;
  std::string labelCopy = label;
  ERR_clear_error();
  if (PKCS11_store_certificate(token.slot->token, cert, labelCopy.data(),
                               reinterpret_cast<unsigned char*>(idCopy.data()), idCopy.size(),
                               nullptr) != 0) {
    ERR_clear_error();
    RaiseStatus(StatusCode::Undefined);
  }
  impl_->Forget(token);
}

unsigned long KeyStore::MaxRsaKeyBits(std::size_t index) const {
  std::lock_guard lock(impl_->mutex);
  if (index >= impl_->tokens.size()) return 0;
  const Impl::Token& token = impl_->tokens[index];
  CK_FUNCTION_LIST* functions = token.module->functions;
  if (!functions) return 0;
  CK_MECHANISM_INFO info{};
  CK_SLOT_ID slotId = PKCS11_get_slotid_from_slot(token.slot);
  if (functions->C_GetMechanismInfo(slotId, CKM_RSA_PKCS_KEY_PAIR_GEN, &info) != CKR_OK ||
      !(info.flags & CKF_GENERATE_KEY_PAIR))
    return 0;
  return info.ulMaxKeySize;
}

TokenKey KeyStore::GenerateRsaKey(std::size_t index, unsigned long bits, const std::string& label) {
  std::lock_guard lock(impl_->mutex);
  Impl::Token& token = impl_->At(index);
  Login(index);
  CK_FUNCTION_LIST* functions = token.module->functions;
  if (!functions) RaiseStatus(StatusCode::Undefined);
  CK_SLOT_ID slotId = PKCS11_get_slotid_from_slot(token.slot);
  CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
  if (functions->C_OpenSession(slotId, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr,
                               &session) != CKR_OK)
    RaiseStatus(StatusCode::Undefined);

  unsigned char id[16];
  RAND_bytes(id, sizeof id);
  std::string labelCopy = label;
  CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
  CK_ULONG modulusBits = bits;
  CK_BYTE exponent[] = {0x01, 0x00, 0x01};
  CK_ATTRIBUTE publicTemplate[] = {
      {CKA_TOKEN, &yes, sizeof yes},
      {CKA_VERIFY, &yes, sizeof yes},
      {CKA_ENCRYPT, &no, sizeof no},
      {CKA_WRAP, &no, sizeof no},
      {CKA_MODULUS_BITS, &modulusBits, sizeof modulusBits},
      {CKA_PUBLIC_EXPONENT, exponent, sizeof exponent},
      {CKA_ID, id, sizeof id},
      {CKA_LABEL, labelCopy.data(), labelCopy.size()},
  };
  CK_ATTRIBUTE privateTemplate[] = {
      {CKA_TOKEN, &yes, sizeof yes},
      {CKA_PRIVATE, &yes, sizeof yes},
      {CKA_SENSITIVE, &yes, sizeof yes},
      {CKA_EXTRACTABLE, &no, sizeof no},
      {CKA_SIGN, &yes, sizeof yes},
      {CKA_DECRYPT, &no, sizeof no},
      {CKA_UNWRAP, &no, sizeof no},
      {CKA_ID, id, sizeof id},
      {CKA_LABEL, labelCopy.data(), labelCopy.size()},
  };
  CK_MECHANISM mechanism{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
  CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE, privateKey = CK_INVALID_HANDLE;
  CK_RV rv = functions->C_GenerateKeyPair(
      session, &mechanism, publicTemplate, sizeof publicTemplate / sizeof *publicTemplate,
      privateTemplate, sizeof privateTemplate / sizeof *privateTemplate, &publicKey, &privateKey);
  functions->C_CloseSession(session);
  if (rv != CKR_OK) RaiseStatus(StatusCode::Undefined);

  impl_->Forget(token);
  const std::string wanted = Bytes(id, sizeof id);
  for (const TokenKey& key : Keys(index))
    if (key.id == wanted) return key;
  RaiseStatus(StatusCode::Undefined);
}

}  // namespace corvane
