#include "cli/tool_output.h"

#include <iostream>

#include "cli/cli_options.h"

namespace corvane::cli {

void PrintToolMessage(const SkinTexts& texts, const UiMessage& message) {
  if (message.key.empty()) return;
  if (message.ok())
    std::cout << texts.Get(message.key) << "\n";
  else
    PrintError(texts.Get(message.key));
}

void PrintResultText(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
  std::cout << out;
  if (!out.empty() && out.back() != '\n') std::cout << "\n";
}

}  // namespace corvane::cli
