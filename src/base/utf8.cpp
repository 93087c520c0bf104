#include "base/utf8.h"

#include <cstdint>

namespace corvane {
namespace {

void AppendUtf16(std::string& out, std::uint32_t unit) {
  out.push_back(static_cast<char>(unit & 0xFF));
  out.push_back(static_cast<char>(unit >> 8));
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

}  // namespace

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsValidUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    int extra;
    char32_t value;
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      value = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      value = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      value = c & 0x07;
    } else {
      return false;
    }
    if (end - p <= extra) return false;
    for (int i = 1; i <= extra; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
      value = (value << 6) | (p[i] & 0x3F);
    }
    if ((extra == 2 && value < 0x800) || (extra == 3 && value < 0x10000) || value > 0x10FFFF ||
        (value >= 0xD800 && value <= 0xDFFF))
      return false;
    p += extra + 1;
  }
  return true;
}

bool HasHighByteAboveA0(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) > 0xA0) return true;
  return false;
}

std::string Utf8ToUtf16Le(std::string_view in) {
  std::string out;
  for (std::size_t i = 0; i < in.size();) {
    auto c = static_cast<unsigned char>(in[i]);
    std::uint32_t code = c;
    std::size_t length = 1;
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
      code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      code = c & 0x07;
    } else if (c >= 0x80) {
      length = 0;  // not a lead byte
    }
    bool valid = length > 0 && i + length <= in.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      auto next = static_cast<unsigned char>(in[i + k]);
      if ((next & 0xC0) != 0x80) valid = false;
      code = (code << 6) | (next & 0x3F);
    }
    if (valid && length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) valid = false;
    if (valid && length == 4 && (code < 0x10000 || code > 0x10FFFF)) valid = false;
    if (!valid) {
      AppendUtf16(out, c);
      ++i;
      continue;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      AppendUtf16(out, 0xD800 | (code >> 10));
      AppendUtf16(out, 0xDC00 | (code & 0x3FF));
    } else {
      AppendUtf16(out, code);
    }
    i += length;
  }
  return out;
}

std::string Utf16LeToUtf8(std::string_view in) {
  std::string out;
  for (std::size_t i = 0; i + 1 < in.size(); i += 2) {
    std::uint32_t code =
        static_cast<unsigned char>(in[i]) | (static_cast<unsigned char>(in[i + 1]) << 8);
    if (code == 0) break;
    if (code >= 0xD800 && code <= 0xDBFF && i + 3 < in.size()) {
      std::uint32_t low =
          static_cast<unsigned char>(in[i + 2]) | (static_cast<unsigned char>(in[i + 3]) << 8);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (code >> 6)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (code >> 12)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (code >> 18)));
      out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return out;
}

}  // namespace corvane
