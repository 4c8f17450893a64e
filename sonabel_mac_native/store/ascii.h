// ASCII case folding, the same in every locale: URL schemes, host names, identifiers, language
// codes and desktop names fold only their ASCII letters.
#pragma once

#include <string>
#include <string_view>

namespace quorvel {

inline std::string asciiLowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace quorvel
