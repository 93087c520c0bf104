// Checking a pasted or generated request: the CSR tab's check step, free of any window. The
// request is read by OpenSSL first; when that fails a second decoder describes it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/language.h"
#include "base/ui_message.h"

namespace corvane {

enum class CsrArmour { Standard, New };

inline constexpr char kCsrHeader[] = "-----BEGIN CERTIFICATE REQUEST-----";
inline constexpr char kCsrFooter[] = "-----END CERTIFICATE REQUEST-----";
inline constexpr char kNewCsrHeader[] = "-----BEGIN NEW CERTIFICATE REQUEST-----";
inline constexpr char kNewCsrFooter[] = "-----END NEW CERTIFICATE REQUEST-----";

// The body between the armour's header and footer, starting one character after the header
// (the first character of its line break). Nullopt when either is missing or the body is
// shorter than 100 characters.
std::optional<std::string> ExtractCsrBody(std::string_view text, CsrArmour armour);

// Restores base64 line breaks lost in pasting: a body with no CR LF in its first 256
// characters gets its CRs (or, without any, its blanks) turned into CR LF line breaks.
std::string RepairLineBreaks(std::string body);

struct CsrCheckResult {
  bool shown = false;      // a result was shown (by either decoder)
  UiMessage message;       // status line
  std::string resultText;  // the result box (emptied first, so empty on failure)
};

// CheckCsr: trims the text, repairs and re-armours it, checks it with OpenSSL and formats
// UiTaskStateCheckCsrRet from `texts`; when OpenSSL refuses it, CheckCsrKeyStore decides.
CsrCheckResult CheckCsr(std::string_view requestText, const SkinTexts& texts);

// CheckCsrKeyStore: decodes the base64 body as PKCS #10 on its own, verifies the signature
// with the request's key and formats UiTaskStateCheckCsrRetWithWin7. A request whose signature
// does not match its key fails (UiTaskStateCheckCsrFailed).
CsrCheckResult CheckCsrKeyStore(std::string_view requestText, const SkinTexts& texts);

// Fills %s and %d of a language text in order with `args` (already rendered as text).
std::string FormatLanguageText(std::string_view format,
                               std::initializer_list<std::string_view> args);

}  // namespace corvane
