// SPDX-License-Identifier: BSD-3-Clause
#include "base/safe_text.h"

#include <cstdio>
#include <vector>

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD
constexpr char kEllipsis[] = "\xE2\x80\xA6";     // U+2026

bool Continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Length of the well-formed sequence starting at s[i] and its code point, or
// 0 when the bytes there are not one.
std::size_t Decode(std::string_view s, std::size_t i, char32_t& cp) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  std::size_t len = 0;
  char32_t min = 0;
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  } else if ((b0 & 0xE0) == 0xC0) {
    len = 2, min = 0x80, cp = b0 & 0x1Fu;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, min = 0x800, cp = b0 & 0x0Fu;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, min = 0x10000, cp = b0 & 0x07u;
  } else {
    return 0;
  }
  if (s.size() - i < len) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if (!Continuation(b)) return 0;
    cp = (cp << 6) | (b & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

bool XmlAllows(char32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) || c >= 0x10000;
}

}  // namespace

std::string CleanUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    char32_t cp = 0;
    const std::size_t len = Decode(s, i, cp);
    if (len == 0) {
      out += kReplacement;
      ++i;
      continue;
    }
    if (XmlAllows(cp))
      out.append(s.substr(i, len));
    else
      out += kReplacement;
    i += len;
  }
  return out;
}

std::string XmlEscape(std::string_view s) {
  const std::string clean = CleanUtf8(s);
  std::string out;
  out.reserve(clean.size());
  for (char c : clean) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string FitText(std::string_view s, std::size_t max_chars) {
  // Byte offset where each character starts.
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    // A continuation byte belongs to the character before it, unless it
    // would make that one longer than any UTF-8 sequence.
    if (Continuation(b) && !starts.empty() && i - starts.back() < 4 &&
        static_cast<unsigned char>(s[starts.back()]) >= 0xC0)
      continue;
    starts.push_back(i);
  }
  if (starts.size() <= max_chars) return std::string(s);
  if (max_chars == 0) return "";
  const std::size_t keep = max_chars - 1;  // the ellipsis is one character
  const std::size_t head = (keep + 1) / 2, tail = keep - head;
  std::string out(s.substr(0, starts[head]));
  out += kEllipsis;
  if (tail > 0) out.append(s.substr(starts[starts.size() - tail]));
  return out;
}

std::string JsonString(std::string_view s) {
  const std::string clean = CleanUtf8(s);
  std::string o = "\"";
  for (const char ch : clean) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      o += '\\';
      o += ch;
    } else if (c < 0x20 || c == 0x7f) {  // DEL too, as the page's strings have it
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      o += buf;
    } else {
      o += ch;
    }
  }
  return o + "\"";
}

namespace {

// Characters that move or reorder what a terminal shows.
bool TerminalHides(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || c == 0x200E || c == 0x200F ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::string TerminalText(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  char buf[16];
  for (std::size_t i = 0; i < s.size();) {
    char32_t cp = 0;
    const std::size_t len = Decode(s, i, cp);
    if (len == 0) {
      std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned>(static_cast<unsigned char>(s[i])));
      out += buf;
      ++i;
      continue;
    }
    if (!TerminalHides(cp)) {
      out.append(s.substr(i, len));
    } else if (cp == '\n' || cp == '\r' || cp == '\t') {
      out += cp == '\n' ? "\\n" : cp == '\r' ? "\\r" : "\\t";
    } else {
      std::snprintf(buf, sizeof buf, cp < 0x80 ? "\\x%02x" : "\\u%04x", static_cast<unsigned>(cp));
      out += buf;
    }
    i += len;
  }
  return out;
}
