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

// A script cut at its apostrophes: code, a literal (decoded), code, ... (literals at odd
// places); nothing when a literal of the script is not valid.
inline std::optional<std::vector<std::string>> splitLiterals(std::string_view script) {
  std::vector<std::string> pieces(1);
  for (size_t i = 0; i < script.size(); ++i) {
    const bool inLiteral = pieces.size() % 2 == 0;
    if (script[i] == '\'') {
      pieces.emplace_back();
    } else if (inLiteral && (script[i] == '\n' || script[i] == '\r')) {
      return std::nullopt;
    } else if (inLiteral && script[i] == '\\') {
      if (++i == script.size() || std::string_view("\\'n").find(script[i]) == std::string::npos) {
        return std::nullopt;
      }
      pieces.back() += script[i] == 'n' ? '\n' : script[i];
    } else {
      pieces.back() += script[i];
    }
  }
  return pieces.size() % 2 == 1 ? std::optional(pieces) : std::nullopt;
}

}  // namespace quorvel::testing
