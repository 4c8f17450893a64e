// The escaping rules against the literal reader of js_string_literal.h: an escaped text reads
// back as the input, less what the rule drops on purpose. (The page calls' scripts are checked
// where they are sent: the bridge and usage targets.)
#include <cassert>
#include <cstdint>
#include <string>

#include "fuzz/js_string_literal.h"
#include "web/page_calls.h"

namespace {

using namespace quorvel;

std::string without(std::string text, std::string_view gone) {
  std::erase_if(text, [&](char c) { return gone.find(c) != std::string_view::npos; });
  return text;
}

std::string readBack(const std::string& escaped) {
  auto pieces = testing::splitLiterals("'" + escaped + "'");
  assert(pieces && pieces->size() == 3);
  return (*pieces)[1];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string a(reinterpret_cast<const char*>(data), size);
  assert(readBack(escapeForJS(a)) == without(a, "\r"));
  assert(readBack(escapeUsageForJS(a)) == without(a, "\r\n"));
  // The narrower rule promises a valid literal only for JSON text (no raw line end).
  if (a.find_first_of("\r\n") == std::string::npos) {
    assert(readBack(escapeBackslashesAndApostrophes(a)) == a);
  }
  return 0;
}
