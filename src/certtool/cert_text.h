// The certificate tab's check of pasted certificate text.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// True when the text is base64 (with or without PEM armour) of a certificate.
bool ParseCertText(std::string_view text);

// Every "\r" not already followed by "\n" becomes "\r\n", as the tab does to its rich-edit
// text before using it.
std::string NormalizeCertLineBreaks(std::string_view text);

}  // namespace corvane
