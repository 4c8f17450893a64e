// history.json holding anything: what loads reaches the page as the literal of a valid script
// that reads back as the file (less carriage returns), and what is saved loads back unchanged.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_services.h"
#include "fuzz/js_string_literal.h"
#include "store/utf8.h"
#include "web/page_calls.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorvel;
  using namespace quorvel::testing;
  FuzzServices s;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  s.files.files[s.history.historyFile()] = bytes;

  auto loaded = s.history.load();
  FUZZ_CHECK(loaded.has_value() == (!bytes.empty() && isValidUTF8(bytes)));
  if (loaded) {
    FUZZ_CHECK(*loaded == bytes);
    auto pieces = splitLiterals(page::injectHistory(*loaded));
    FUZZ_CHECK(pieces.has_value());
    std::string expected = bytes;
    std::erase(expected, '\r');
    bool found = false;
    for (const auto& piece : *pieces) found = found || (piece.literal && piece.text == expected);
    FUZZ_CHECK(found);
  }

  s.files.files.clear();
  s.history.save(bytes);
  FUZZ_CHECK(s.files.readFile(s.history.historyFile()) == bytes);
  return 0;
}
