// How the commands of the CSR and certificate tools print what their tab would show.
#pragma once

#include <string>

#include "base/language.h"
#include "base/ui_message.h"
#include "base/window_texts.h"

namespace corvane::cli {

// A green message goes to standard output as its text; a red one to standard error as
// "Error: <text>"; an empty one prints nothing.
void PrintToolMessage(const SkinTexts& texts, const UiMessage& message);

// A result box's text on standard output, with its CR LF line breaks as plain line breaks.
void PrintResultText(const std::string& text);

}  // namespace corvane::cli
