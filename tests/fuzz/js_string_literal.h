// A reader of single-quoted JavaScript string literals, written from the language's grammar so
// that the fuzz targets can check the page calls against something other than the escaping
// code itself: a raw line feed or carriage return ends the script with a syntax error, U+2028
// and U+2029 are allowed (since ES2019), and a backslash starts an escape or a line
// continuation. Legacy octal escapes (\1 to \7, \0 before a digit) are refused: the page calls
// never need them. Texts are UTF-8; \u escapes come back as UTF-8 too.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::testing {

namespace js_detail {

inline int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

inline void appendUTF8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Bytes of U+2028 or U+2029 at i, or 0.
inline size_t separatorAt(std::string_view text, size_t i) {
  if (i + 2 < text.size() && text[i] == '\xE2' && text[i + 1] == '\x80' &&
      (text[i + 2] == '\xA8' || text[i + 2] == '\xA9')) {
    return 3;
  }
  return 0;
}

// Bytes of the UTF-8 sequence starting at i (1 for a stray byte).
inline size_t sequenceAt(std::string_view text, size_t i) {
  auto c = static_cast<unsigned char>(text[i]);
  size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
  return i + n <= text.size() ? n : 1;
}

inline std::optional<uint32_t> hexDigits(std::string_view text, size_t& i, size_t count) {
  if (i + count > text.size()) return std::nullopt;
  uint32_t value = 0;
  for (size_t k = 0; k < count; ++k) {
    int digit = hexValue(text[i + k]);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  i += count;
  return value;
}

}  // namespace js_detail

// Decodes the literal whose opening apostrophe is at text[pos]; on success pos ends just past
// the closing one. Nothing when the literal is not valid JavaScript.
inline std::optional<std::string> decodeSingleQuoted(std::string_view text, size_t& pos) {
  using namespace js_detail;
  if (pos >= text.size() || text[pos] != '\'') return std::nullopt;
  std::string out;
  size_t i = pos + 1;
  while (i < text.size()) {
    char c = text[i];
    if (c == '\'') {
      pos = i + 1;
      return out;
    }
    if (c == '\n' || c == '\r') return std::nullopt;
    if (c != '\\') {
      out += c;
      ++i;
      continue;
    }
    if (++i >= text.size()) return std::nullopt;
    char e = text[i];
    if (size_t width = separatorAt(text, i)) {  // line continuation
      i += width;
      continue;
    }
    ++i;
    switch (e) {
      case '\n':
        break;
      case '\r':
        if (i < text.size() && text[i] == '\n') ++i;
        break;
      case 'b':
        out += '\b';
        break;
      case 'f':
        out += '\f';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'v':
        out += '\v';
        break;
      case '0':
        if (i < text.size() && text[i] >= '0' && text[i] <= '9') return std::nullopt;
        out += '\0';
        break;
      case 'x': {
        auto value = hexDigits(text, i, 2);
        if (!value) return std::nullopt;
        appendUTF8(out, *value);
        break;
      }
      case 'u': {
        std::optional<uint32_t> value;
        if (i < text.size() && text[i] == '{') {
          size_t close = text.find('}', i);
          if (close == std::string_view::npos || close == i + 1 || close - i - 1 > 6) {
            return std::nullopt;
          }
          size_t start = i + 1;
          value = hexDigits(text, start, close - i - 1);
          if (!value || *value > 0x10FFFF) return std::nullopt;
          i = close + 1;
        } else {
          value = hexDigits(text, i, 4);
          if (!value) return std::nullopt;
        }
        appendUTF8(out, *value);
        break;
      }
      default:
        if (e >= '1' && e <= '9') return std::nullopt;
        // Any other character stands for itself, a whole UTF-8 sequence at a time.
        size_t width = sequenceAt(text, i - 1);
        out.append(text.substr(i - 1, width));
        i += width - 1;
    }
  }
  return std::nullopt;
}

// A script cut into its code and its single-quoted literals (decoded).
struct ScriptPiece {
  bool literal = false;
  std::string text;
  bool operator==(const ScriptPiece&) const = default;
};

// Nothing when a literal of the script is not valid JavaScript.
inline std::optional<std::vector<ScriptPiece>> splitLiterals(std::string_view script) {
  std::vector<ScriptPiece> pieces;
  size_t i = 0;
  while (i < script.size()) {
    size_t quote = script.find('\'', i);
    if (quote == std::string_view::npos) quote = script.size();
    if (quote > i) pieces.push_back({false, std::string(script.substr(i, quote - i))});
    if (quote == script.size()) break;
    auto text = decodeSingleQuoted(script, quote);
    if (!text) return std::nullopt;
    pieces.push_back({true, std::move(*text)});
    i = quote;
  }
  return pieces;
}

}  // namespace quorvel::testing
