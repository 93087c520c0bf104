// What a tab shows on its status line after an operation: a language-table key and its
// colour. An empty key empties the status line.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace corvane {

enum class UiColour { Red, Green };

// The status line's text colours.
inline constexpr char kUiRed[] = "#FFFF0000";
inline constexpr char kUiGreen[] = "#00279E36";

inline const char* UiColourText(UiColour colour) {
  return colour == UiColour::Red ? kUiRed : kUiGreen;
}

struct UiMessage {
  std::string key;
  UiColour colour = UiColour::Red;

  bool ok() const { return colour == UiColour::Green; }
  static UiMessage Red(std::string key) { return {std::move(key), UiColour::Red}; }
  static UiMessage Green(std::string key) { return {std::move(key), UiColour::Green}; }
};

// Receives the messages an operation shows while it runs ("Processing, please wait...").
using UiProgress = std::function<void(const UiMessage&)>;

// The save dialog, shown once the product exists: the chosen path, nullopt when cancelled.
using ChooseSavePath = std::function<std::optional<std::string>()>;

}  // namespace corvane
