#include "cli/key_store_options.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <iostream>

#include "base/status.h"
#include "cert/pkcs11_modules.h"
#include "crypto/x509_names.h"

namespace corvane::cli {
namespace {

// Reads a PIN from the terminal without echo; nullopt when there is none or input ends.
std::optional<std::string> PromptOnTerminal(const std::string& token) {
  int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string question = "PIN for token \"" + token + "\": ";
  if (::write(fd, question.data(), question.size()) < 0) {
    ::close(fd);
    return std::nullopt;
  }
  termios saved{};
  bool restore = ::tcgetattr(fd, &saved) == 0;
  if (restore) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(fd, TCSAFLUSH, &quiet);
  }
  std::string pin;
  bool ended = false;
  for (char c; !ended;) {
    ssize_t n = ::read(fd, &c, 1);
    if (n <= 0) break;
    if (c == '\n' || c == '\r')
      ended = true;
    else
      pin += c;
  }
  if (restore) ::tcsetattr(fd, TCSAFLUSH, &saved);
  if (::write(fd, "\n", 1) < 0) ended = false;
  ::close(fd);
  if (!ended) return std::nullopt;  // Ctrl-D or a closed terminal: cancelled
  return pin;
}

}  // namespace

std::shared_ptr<KeyStore> OpenKeyStore(const Arguments& args) {
  std::optional<std::string> pin = args.Value("pin");
  if (!pin)
    if (const char* env = std::getenv("CORVANECODE_PIN")) pin = std::string(env);
  PinPrompt prompt = [pin](const std::string& token) -> std::optional<std::string> {
    if (pin) return pin;
    return PromptOnTerminal(token);
  };
  return std::make_shared<KeyStore>(ChosenPkcs11Modules(args.Value("pkcs11-module").value_or("")),
                                    std::move(prompt));
}

const TokenCertificate& FindCertificate(KeyStore& store, const std::string& name) {
  const TokenCertificate* found = nullptr;
  if (name.rfind("pkcs11:", 0) == 0) {
    found = store.FindByUri(name);
  } else if (std::size_t colon = name.rfind(':'); colon != std::string::npos) {
    std::string serial = name.substr(colon + 1);
    for (char& c : serial) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    found = store.FindByIdentity(name.substr(0, colon), serial);
  }
  if (!found) RaiseStatus(StatusCode::Undefined);
  return *found;
}

CertIdentity IdentityOf(const TokenCertificate& cert) {
  return {SubjectDisplayName(cert.certificate), IssuerDisplayName(cert.certificate),
          SerialHex(cert.certificate)};
}

}  // namespace corvane::cli
