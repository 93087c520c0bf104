// UTF-8 is the program's narrow text form. These helpers check and convert it without any
// locale.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// True when `text` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsValidUtf8(std::string_view text);

// True when the text holds a character outside ASCII whose encoding has a byte above 0xA0
// (the test that tells a Chinese name from a Latin one).
bool HasHighByteAboveA0(std::string_view text);

// `text` without the white space (space, tab, CR, LF, VT, FF) at both ends.
std::string_view TrimBlanks(std::string_view text);

// UTF-8 to UTF-16LE without a terminator; bytes that are not UTF-8 are taken as Latin-1.
std::string Utf8ToUtf16Le(std::string_view utf8);
// UTF-16LE (a trailing zero ends it) to UTF-8.
std::string Utf16LeToUtf8(std::string_view utf16);

}  // namespace corvane
