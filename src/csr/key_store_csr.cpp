#include "csr/key_store_csr.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cctype>
#include <cstdlib>

#include "base/status.h"

namespace corvane {
namespace {

constexpr unsigned long kMinimumKeyBits = 2048;

using X509ReqPtr = std::unique_ptr<X509_REQ, OpenSslDeleter<X509_REQ, X509_REQ_free>>;

std::string Trim(const std::string& text) {
  std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The attribute names a distinguished-name string may use.
int AttributeNid(std::string name) {
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (name == "E" || name == "EMAIL") return NID_pkcs9_emailAddress;
  if (name == "S") return NID_stateOrProvinceName;
  static const struct {
    const char* name;
    int nid;
  } kNames[] = {{"CN", NID_commonName},
                {"O", NID_organizationName},
                {"OU", NID_organizationalUnitName},
                {"C", NID_countryName},
                {"L", NID_localityName},
                {"ST", NID_stateOrProvinceName},
                {"STREET", NID_streetAddress},
                {"DC", NID_domainComponent},
                {"SERIALNUMBER", NID_serialNumber},
                {"T", NID_title},
                {"G", NID_givenName},
                {"SN", NID_surname}};
  for (const auto& n : kNames)
    if (name == n.name) return n.nid;
  return NID_undef;
}

}  // namespace

std::vector<KeyStoreProvider> KeyStoreProviders(const KeyStore& store) {
  std::vector<KeyStoreProvider> providers;
  for (std::size_t i = 0; i < store.Tokens().size(); ++i) {
    unsigned long bits = store.MaxRsaKeyBits(i);
    if (bits >= kMinimumKeyBits) providers.push_back({i, store.Tokens()[i].label, bits});
  }
  return providers;
}

std::vector<std::string> KeyStoreKeyLengths(unsigned long maxKeyBits) {
  std::vector<std::string> lengths;
  for (unsigned long t = 2048; t <= maxKeyBits && t <= 4096; t *= 2)
    lengths.push_back(std::to_string(t));
  return lengths;
}

X509NamePtr ParseDistinguishedName(const std::string& text) {
  std::vector<std::string> parts;
  std::string current;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      current += text[++i];
    } else if (text[i] == ',' || text[i] == ';') {
      parts.push_back(current);
      current.clear();
    } else {
      current += text[i];
    }
  }
  parts.push_back(current);

  X509NamePtr name(X509_NAME_new());
  int added = 0;
  for (const std::string& part : parts) {
    std::size_t eq = part.find('=');
    if (eq == std::string::npos) return nullptr;
    int nid = AttributeNid(Trim(part.substr(0, eq)));
    if (nid == NID_undef) return nullptr;
    std::string value = Trim(part.substr(eq + 1));
    if (value.empty()) continue;
    if (X509_NAME_add_entry_by_NID(name.get(), nid, MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(value.c_str()),
                                   static_cast<int>(value.size()), -1, 0) != 1)
      return nullptr;
    ++added;
  }
  if (added == 0) return nullptr;
  return name;
}

CsrGenerateResult ToGenerateResult(const KeyStoreRequest& request) {
  CsrGenerateResult generated;
  generated.message =
      request.produced ? UiMessage::Green(request.stateKey) : UiMessage::Red(request.stateKey);
  if (request.produced) generated.requestPem = request.request;
  return generated;
}

std::string Base64CrLfLines(const std::string& der) {
  std::string encoded(4 * ((der.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()),
                          reinterpret_cast<const unsigned char*>(der.data()),
                          static_cast<int>(der.size()));
  encoded.resize(static_cast<std::size_t>(n > 0 ? n : 0));
  std::string lines;
  for (std::size_t i = 0; i < encoded.size(); i += 64) lines += encoded.substr(i, 64) + "\r\n";
  return lines;
}

KeyStoreRequest GenerateKeyStoreRequest(KeyStore& store, const std::string& provider,
                                        const std::string& keyLength, const std::string& subject) {
  KeyStoreRequest result;
  if (provider.empty()) {
    result.stateKey = "UiGloErrSelCSP";
    return result;
  }
  const unsigned long wanted = std::strtoul(keyLength.c_str(), nullptr, 10);
  if (wanted < kMinimumKeyBits) {
    result.stateKey = "UiGloErrSelKeyLen";
    return result;
  }
  std::vector<std::size_t> tokens = store.FindTokens(provider);
  if (tokens.empty()) {
    result.stateKey = "UiTaskStateLoadControlFailed";
    return result;
  }
  X509NamePtr name = ParseDistinguishedName(subject);
  if (!name) {
    result.stateKey = "UiTaskStateInputInvalid";
    return result;
  }
  result.stateKey = "UiTaskStateGenerateCSRFailed";
  const std::size_t token = tokens[0];
  const unsigned long maximum = store.MaxRsaKeyBits(token);
  if (maximum < kMinimumKeyBits) return result;
  std::string label = "CorvaneCode request key";
  if (int i = X509_NAME_get_index_by_NID(name.get(), NID_commonName, -1); i >= 0) {
    const ASN1_STRING* cn = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name.get(), i));
    label = std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(cn)),
                        static_cast<std::size_t>(ASN1_STRING_length(cn)));
  }

  TokenKey key;
  try {
    key = store.GenerateRsaKey(token, std::min(wanted, maximum), label);
  } catch (const std::exception& e) {
    if (HasStatus(e, StatusCode::Undefined)) return result;
    throw;  // the PIN prompt's outcome
  }
  X509ReqPtr request(X509_REQ_new());
  if (!request || X509_REQ_set_version(request.get(), 0) != 1 ||
      X509_REQ_set_subject_name(request.get(), name.get()) != 1 ||
      X509_REQ_set_pubkey(request.get(), key.key) != 1 ||
      X509_REQ_sign(request.get(), key.key, EVP_sha256()) <= 0)
    return result;
  unsigned char* der = nullptr;
  int length = i2d_X509_REQ(request.get(), &der);
  if (length <= 0) return result;
  std::string derBytes(reinterpret_cast<char*>(der), static_cast<std::size_t>(length));
  OPENSSL_free(der);

  std::string text = "-----BEGIN CERTIFICATE REQUEST-----\r\n" + Base64CrLfLines(derBytes) +
                     "-----END CERTIFICATE REQUEST-----";
  if (text.size() <= 99) return result;
  result.produced = true;
  result.stateKey = "UiCSRTaskStateComplete";
  result.request = std::move(text);
  result.token = token;
  result.keyId = key.id;
  return result;
}

KeyStoreRequest GenerateKeyStore(KeyStore& store, const std::string& provider,
                                 std::string keyLength, CsrKind kind, const CsrFields& fields,
                                 const PinPrompt& prompt, const UiProgress& progress) {
  if (progress) progress(UiMessage::Green("UiCSRTaskStateWait"));
  KeyStoreRequest result;
  if (provider.empty()) {
    result.stateKey = "UiGloErrSelCSP";
    return result;
  }
  std::vector<std::size_t> tokens = store.FindTokens(provider);
  if (keyLength.empty() && !tokens.empty()) {
    std::vector<std::string> lengths = KeyStoreKeyLengths(store.MaxRsaKeyBits(tokens[0]));
    if (!lengths.empty()) keyLength = lengths[0];
  }
  if (std::strtoul(keyLength.c_str(), nullptr, 10) < kMinimumKeyBits) {
    result.stateKey = "UiGloErrSelKeyLen";
    return result;
  }
  if (tokens.empty()) {
    result.stateKey = "UiTaskStateLoadControlFailed";
    return result;
  }
  std::string subject;
  if (!BuildSubject(kind, fields, /*legacyPlatform=*/false, subject)) {
    result.stateKey = "UiTaskStateEmailAddressIsIllegal";
    return result;
  }
  store.Login(tokens[0], prompt);
  return GenerateKeyStoreRequest(store, provider, keyLength, subject);
}

}  // namespace corvane
