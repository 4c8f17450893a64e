// Small UTF-8 text helpers shared by the stores and the polisher.
#pragma once

#include <cstddef>
#include <string>

namespace quorvel {

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
inline bool isValidUTF8(const std::string& text) {
  size_t i = 0, n = text.size();
  auto at = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  while (i < n) {
    unsigned char c = at(i);
    size_t extra;
    unsigned lo = 0x80, hi = 0xBF;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (i + extra >= n) return false;
    if (at(i + 1) < lo || at(i + 1) > hi) return false;
    for (size_t k = 2; k <= extra; ++k) {
      if ((at(i + k) & 0xC0) != 0x80) return false;
    }
    i += extra + 1;
  }
  return true;
}

// ASCII control characters (line ends, tab, NUL, DEL...): never allowed inside a header value.
inline bool hasControlCharacter(const std::string& text) {
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return true;
  }
  return false;
}

// Width of the Unicode white space or line end starting at byte i, or 0 when there is none
// (space, tab, CR, LF, VT, FF, NEL, NBSP, and the other space separators and line/paragraph
// separators).
inline size_t unicodeSpaceWidth(const std::string& text, size_t i) {
  auto at = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char c = at(i);
  if (c == ' ' || (c >= 0x09 && c <= 0x0D)) return 1;
  if (c == 0xC2 && i + 1 < text.size() && (at(i + 1) == 0x85 || at(i + 1) == 0xA0)) return 2;
  if (i + 2 >= text.size()) return 0;
  unsigned a = at(i + 1), b = at(i + 2);
  if (c == 0xE1 && a == 0x9A && b == 0x80) return 3;  // U+1680
  if (c == 0xE2 && a == 0x80 && (b <= 0x8A || b == 0xA8 || b == 0xA9 || b == 0xAF)) return 3;
  if (c == 0xE2 && a == 0x81 && b == 0x9F) return 3;  // U+205F
  if (c == 0xE3 && a == 0x80 && b == 0x80) return 3;  // U+3000
  return 0;
}

// White space and line ends off both ends.
inline std::string trimWhitespace(const std::string& text) {
  size_t begin = 0;
  while (begin < text.size()) {
    size_t width = unicodeSpaceWidth(text, begin);
    if (width == 0) break;
    begin += width;
  }
  size_t end = text.size();
  while (end > begin) {
    size_t start = end - 1;
    while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    if (unicodeSpaceWidth(text, start) != end - start) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

}  // namespace quorvel
