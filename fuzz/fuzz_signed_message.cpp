// Signatures read from files: the signed-message decoder, the Authenticode content and the
// timestamp checks that walk its signer infos.
#include <cstddef>
#include <cstdint>
#include <string>

#include "crypto/signed_message.h"
#include "crypto/trust_store.h"
#include "sign/authenticode_content.h"
#include "sign/timestamp_verify.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static corvane::X509StorePtr store = corvane::BuildTrustStore({});
  std::string bytes(reinterpret_cast<const char*>(data), size);
  try {
    corvane::SignedMessage message = corvane::SignedMessage::Decode(bytes);
    message.Certificates();
    message.UnauthenticatedAttributes(0);
    message.EncryptedDigest(0);
    corvane::IndirectDigest indirect;
    std::string content = message.ContentDer();
    corvane::ParseIndirectData(content, indirect);
    corvane::ReadPageHashes(content);
    corvane::CheckSignerInfo(message.SignerInfo(0), content, message.Certificates());
    corvane::VerifyTimestamp(message, 0, store.get());
    message.AddCertificate(std::string("\x30\x00", 2));
    corvane::NestSignature(bytes, bytes);
  } catch (const std::exception&) {
  }
  return 0;
}
