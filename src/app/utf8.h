// UTF-8 is the program's narrow text form. These helpers check it without any locale.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// True when `text` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsValidUtf8(std::string_view text);

// True when the text holds a character outside ASCII whose encoding has a byte above 0xA0
// (the test that tells a Chinese name from a Latin one).
bool HasHighByteAboveA0(std::string_view text);

}  // namespace corvane
