// The escaping rules and every page call that carries text, against the literal reader of
// js_string_literal.h: an escaped text reads back as the input (less what the rule drops on
// purpose), and no text changes the script around its literals.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "fuzz/fuzz_check.h"
#include "fuzz/js_string_literal.h"
#include "web/page_calls.h"

namespace {

using quorvel::testing::splitLiterals;
using Texts = const std::string&;

std::string without(std::string text, std::string_view gone) {
  std::erase_if(text, [&](char c) { return gone.find(c) != std::string_view::npos; });
  return text;
}

std::string readBack(const std::string& escaped) {
  auto pieces = splitLiterals("'" + escaped + "'");
  FUZZ_CHECK(pieces && pieces->size() == 3 && (*pieces)[1].literal);
  return (*pieces)[1].text;
}

// The script's code with each literal as a bare pair of apostrophes.
std::string codeOf(const std::string& script) {
  auto pieces = splitLiterals(script);
  FUZZ_CHECK(pieces.has_value());
  std::string code;
  for (const auto& piece : *pieces) code += piece.literal ? "'" : piece.text;
  return code;
}

const std::function<std::string(Texts, Texts, Texts)> kPageCalls[] = {
    [](Texts a, Texts, Texts) { return quorvel::page::injectUsageData(a); },
    [](Texts a, Texts, Texts) { return quorvel::page::refreshUsage(a); },
    [](Texts a, Texts, Texts) { return quorvel::page::injectHistory(a); },
    [](Texts a, Texts b, Texts c) { return quorvel::page::updateResult(a, b, c, a); },
    [](Texts a, Texts, Texts) { return quorvel::page::resolveLlmEditResult(a, 7); },
    [](Texts a, Texts, Texts) { return quorvel::page::resolveLlmEditError(a); },
    [](Texts a, Texts, Texts) { return quorvel::page::setEditInstruction(a); },
    // The edit-recording answer is always JSON text, which holds no raw line end.
    [](Texts a, Texts, Texts) {
      return quorvel::page::resolveEditRecord(nlohmann::json{{"text", a}}.dump(
          -1, ' ', false, nlohmann::json::error_handler_t::replace));
    },
    [](Texts a, Texts, Texts) { return quorvel::page::setLanguage(a); },
    [](Texts a, Texts b, Texts) { return quorvel::page::showRawAndStartPolish(a, b); },
    [](Texts a, Texts, Texts) { return quorvel::page::speechResultEvent(a); },
    [](Texts a, Texts, Texts) { return quorvel::page::nativeError(a); },
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorvel;
  FuzzedDataProvider input(data, size);
  const std::string a = input.ConsumeRandomLengthString(), b = input.ConsumeRandomLengthString();
  const std::string c = input.ConsumeRemainingBytesAsString();
  FUZZ_CHECK(readBack(escapeForJS(a)) == without(a, "\r"));
  FUZZ_CHECK(readBack(escapeUsageForJS(a)) == without(a, "\r\n"));
  // The narrower rule promises a valid literal only for JSON text (no raw line end).
  if (a.find_first_of("\r\n") == std::string::npos) {
    FUZZ_CHECK(readBack(escapeBackslashesAndApostrophes(a)) == a);
  }
  for (const auto& call : kPageCalls)
    FUZZ_CHECK(codeOf(call(a, b, c)) == codeOf(call("a", "b", "c")));
  return 0;
}
