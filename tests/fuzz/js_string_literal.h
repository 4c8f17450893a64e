// A reader of the single-quoted JavaScript literals the page calls write, written from the
// language's grammar rather than from the escaping code: a raw line feed or carriage return
// ends the script with a syntax error (U+2028 and U+2029 are allowed since ES2019). It knows
// only the escapes the page calls write (\\, \' and \n) and refuses any other, so a text that
// reaches the script unescaped shows up as a refusal or as changed code around the literals.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::testing {

// A script cut into its code and its single-quoted literals (decoded); nothing when a literal
// of the script is not valid.
struct ScriptPiece {
  bool literal = false;
  std::string text;
};

inline std::optional<std::vector<ScriptPiece>> splitLiterals(std::string_view script) {
  std::vector<ScriptPiece> pieces{{false, ""}};
  bool inLiteral = false;
  for (size_t i = 0; i < script.size(); ++i) {
    char c = script[i];
    if (c == '\'') {
      inLiteral = !inLiteral;
      pieces.push_back({inLiteral, ""});
    } else if (inLiteral && (c == '\n' || c == '\r')) {
      return std::nullopt;
    } else if (inLiteral && c == '\\') {
      if (++i == script.size() || std::string_view("\\'n").find(script[i]) == std::string::npos) {
        return std::nullopt;
      }
      pieces.back().text += script[i] == 'n' ? '\n' : script[i];
    } else {
      pieces.back().text += c;
    }
  }
  if (inLiteral) return std::nullopt;
  return pieces;
}

}  // namespace quorvel::testing
