// Certificate requests whose key is made and kept on a PKCS #11 token: the tokens that can
// make RSA keys, the key lengths they offer, and the request itself, signed on the token.
// The key never leaves the token; the caller only receives the armoured request.
#pragma once

#include <string>
#include <vector>

#include "base/ui_message.h"
#include "cert/key_store.h"
#include "crypto/openssl_ptr.h"
#include "csr/csr_generate.h"
#include "csr/csr_subject.h"

namespace corvane {

struct KeyStoreProvider {
  std::size_t token = 0;  // index into KeyStore::Tokens()
  std::string name;       // the token's label
  unsigned long maxKeyBits = 0;
};

// Tokens whose RSA key-pair generation reaches at least 2048 bits, with their largest
// length from the token's mechanism information.
std::vector<KeyStoreProvider> KeyStoreProviders(const KeyStore& store);

// For t = 2048, 4096, 8192, … up to the maximum: "2048" and "4096" where reached.
std::vector<std::string> KeyStoreKeyLengths(unsigned long maxKeyBits);

using X509NamePtr = std::unique_ptr<X509_NAME, OpenSslDeleter<X509_NAME, X509_NAME_free>>;

// "CN=…, O=…, C=…" (attributes in the order written, separated by "," or ";", where "\,"
// is a comma of a value; E is the e-mail
// address, S the state). Attributes with an empty value are left out. Null when the text is
// not a distinguished name: no attribute, an unknown attribute name, or a value the
// attribute cannot hold.
X509NamePtr ParseDistinguishedName(const std::string& text);

struct KeyStoreRequest {
  bool produced = false;
  std::string stateKey;   // language key of the outcome
  std::string request;    // "-----BEGIN CERTIFICATE REQUEST-----\r\n" base64 lines "-----END …"
  std::size_t token = 0;  // where the new key is
  std::string keyId;      // its CKA_ID
};

// Validates the choices, then makes a key pair of the chosen length (reduced to the token's
// largest) on the token named `provider` and a PKCS #10 request for `subject` signed with
// it. Outcomes: UiCSRTaskStateComplete, UiGloErrSelCSP, UiGloErrSelKeyLen,
// UiTaskStateInputInvalid (checked before a key is made), UiTaskStateLoadControlFailed (no
// such token), UiTaskStateGenerateCSRFailed. A cancelled or refused PIN is raised.
KeyStoreRequest GenerateKeyStoreRequest(KeyStore& store, const std::string& provider,
                                        const std::string& keyLength, const std::string& subject);

// The CSR tab's key-store generation, checks in the tab's order: UiCSRTaskStateWait shown in
// green; no provider (UiGloErrSelCSP); a key length below 2048 (UiGloErrSelKeyLen); no such
// token (UiTaskStateLoadControlFailed); a bad e-mail address (UiTaskStateEmailAddressIsIllegal);
// then the request as GenerateKeyStoreRequest makes it. No key is made before every check has
// passed. An empty key length takes the first length the token offers. The token's PIN is
// asked through `prompt`; a cancelled or refused PIN is raised.
KeyStoreRequest GenerateKeyStore(KeyStore& store, const std::string& provider,
                                 std::string keyLength, CsrKind kind, const CsrFields& fields,
                                 const PinPrompt& prompt, const UiProgress& progress = {});

// The outcome as the generation worker continues with it: the request for the request box
// (without a line break after its END line) and the status-line message.
CsrGenerateResult ToGenerateResult(const KeyStoreRequest& request);

// DER as base64 in lines of 64 characters, each ending in CR LF.
std::string Base64CrLfLines(const std::string& der);

}  // namespace corvane
