// User-perceived characters (extended grapheme clusters): what the usage statistics count and
// what the edit log lines cut at. A letter with combining marks or a joined emoji is one.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvel {

size_t countCharacters(std::string_view utf8);
// The first `count` characters of the text, whole; the text itself when it is shorter.
std::string firstCharacters(std::string_view utf8, size_t count);

}  // namespace quorvel
