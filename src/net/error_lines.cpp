#include "net/error_lines.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <vector>

namespace corvane {
namespace {

constexpr std::string_view kErrorTag = "[Error]";
constexpr std::size_t kLookBehind = 30;
constexpr std::size_t kWindow = 200;
constexpr std::size_t kMaxLines = 5;

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

// The first stretch of the window without CR or LF that holds "[Error]", clipped to the
// window; empty when there is none.
std::string_view CandidateLine(std::string_view window) {
  const std::size_t tag = window.find(kErrorTag);
  if (tag == std::string_view::npos) return {};
  std::size_t start = tag;
  while (start > 0 && !IsLineEnd(window[start - 1])) --start;
  std::size_t end = tag;
  while (end < window.size() && !IsLineEnd(window[end])) ++end;
  return window.substr(start, end - start);
}

// A line that begins, after white space, with "[" and has "[Error]" after that bracket.
bool IsErrorLine(std::string_view line) {
  std::size_t position = 0;
  while (position < line.size() && IsSpace(line[position])) ++position;
  if (position >= line.size() || line[position] != '[') return false;
  return line.find(kErrorTag, position + 1) != std::string_view::npos;
}

}  // namespace

std::string CollectErrorLinesFrom(std::string_view content) {
  std::vector<std::string_view> kept;
  std::size_t position = content.size();
  while (kept.size() < kMaxLines) {
    const std::size_t tag = content.rfind(kErrorTag, position);
    if (tag == std::string_view::npos) break;
    const std::size_t windowStart = tag >= kLookBehind ? tag - kLookBehind : 0;
    const std::string_view line = CandidateLine(content.substr(windowStart, kWindow));
    if (IsErrorLine(line)) {
      kept.push_back(line);
      // From the start of the content on, every earlier "[Error]" gives this same window.
      if (windowStart == 0) break;
      position = windowStart;
    } else {
      const std::size_t lineFeed = content.rfind('\n', windowStart);
      if (lineFeed == std::string_view::npos) break;
      position = lineFeed;
    }
  }
  std::string result;
  for (auto it = kept.rbegin(); it != kept.rend(); ++it) result.append(*it);
  return result;
}

std::string CollectErrorLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return CollectErrorLinesFrom(content);
}

}  // namespace corvane
