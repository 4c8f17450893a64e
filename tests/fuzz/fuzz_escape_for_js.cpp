// Every escaping rule and every page call that carries text, against a JavaScript literal
// reader of our own: the escaped text must read back as the input (less what the rule drops on
// purpose), and no text may change the script around its literal.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fuzz/fuzz_check.h"
#include "fuzz/js_string_literal.h"
#include "web/page_calls.h"

namespace quorvel::testing {
namespace {

std::string without(std::string text, const char* bytes) {
  std::erase_if(text, [&](char c) { return std::string_view(bytes).find(c) != std::string::npos; });
  return text;
}

void checkRule(std::string (*escape)(std::string_view), const std::string& text,
               const std::string& expected) {
  std::string literal = "'" + escape(text) + "'";
  size_t pos = 0;
  auto decoded = decodeSingleQuoted(literal, pos);
  FUZZ_CHECK(decoded.has_value());
  FUZZ_CHECK(pos == literal.size());
  FUZZ_CHECK(*decoded == expected);
}

// One left-to-right pass, so that a text holding a marker is never replaced in turn.
std::string substitute(const std::string& text, const std::vector<std::string>& markers,
                       const std::vector<std::string>& values) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    bool replaced = false;
    for (size_t k = 0; k < markers.size() && !replaced; ++k) {
      if (text.compare(i, markers[k].size(), markers[k]) == 0) {
        out += values[k];
        i += markers[k].size();
        replaced = true;
      }
    }
    if (!replaced) out += text[i++];
  }
  return out;
}

struct PageCall {
  int texts;
  std::function<std::string(const std::vector<std::string>&)> build;
  std::string (*readsBackAs)(const std::string&);
  bool takesJSON = false;  // the call is only ever given JSON text
};

std::string lessCarriageReturns(const std::string& text) {
  return without(text, "\r");
}
std::string lessLineEnds(const std::string& text) {
  return without(text, "\r\n");
}
std::string same(const std::string& text) {
  return text;
}

std::string jsonText(const std::string& text) {
  return nlohmann::json{{"text", text}}.dump(-1, ' ', false,
                                             nlohmann::json::error_handler_t::replace);
}

// The page call built from markers gives the expected shape: the same code, and literals in
// which each marker stands for the text that replaced it.
void checkPageCall(const PageCall& call, const std::vector<std::string>& texts) {
  std::vector<std::string> markers = {"@@0@@", "@@1@@", "@@2@@"};
  markers.resize(static_cast<size_t>(call.texts));
  auto shape = splitLiterals(call.build(markers));
  FUZZ_CHECK(shape.has_value());
  std::vector<std::string> used(texts.begin(), texts.begin() + call.texts);
  if (call.takesJSON) {
    for (auto& text : used) text = jsonText(text);
  }
  auto actual = splitLiterals(call.build(used));
  FUZZ_CHECK(actual.has_value());
  FUZZ_CHECK(actual->size() == shape->size());
  for (size_t i = 0; i < shape->size(); ++i) {
    const ScriptPiece& want = (*shape)[i];
    const ScriptPiece& got = (*actual)[i];
    FUZZ_CHECK(got.literal == want.literal);
    if (!want.literal) {
      FUZZ_CHECK(got.text == want.text);
      continue;
    }
    std::vector<std::string> readBack;
    for (const auto& text : used) readBack.push_back(call.readsBackAs(text));
    FUZZ_CHECK(got.text == substitute(want.text, markers, readBack));
  }
}

const std::vector<PageCall>& pageCalls() {
  static const std::vector<PageCall> calls = {
      {1, [](const auto& t) { return page::injectUsageData(t[0]); }, lessLineEnds},
      {1, [](const auto& t) { return page::injectHistory(t[0]); }, lessCarriageReturns},
      {3, [](const auto& t) { return page::updateResult(t[0], t[1], t[2]); }, lessCarriageReturns},
      {1, [](const auto& t) { return page::resolveLlmEditResult(t[0]); }, lessCarriageReturns},
      {1, [](const auto& t) { return page::resolveLlmEditError(t[0]); }, lessCarriageReturns},
      {1, [](const auto& t) { return page::setEditInstruction(t[0]); }, lessCarriageReturns},
      // The edit-recording answer is always JSON text, which holds no raw line end.
      {1, [](const auto& t) { return page::resolveEditRecord(t[0]); }, same, true},
      {1, [](const auto& t) { return page::setLanguage(t[0]); }, lessCarriageReturns},
      {2, [](const auto& t) { return page::showRawAndStartPolish(t[0], t[1]); },
       lessCarriageReturns},
      {1, [](const auto& t) { return page::speechResultEvent(t[0]); }, lessCarriageReturns},
      {1, [](const auto& t) { return page::nativeError(t[0]); }, lessCarriageReturns},
  };
  return calls;
}

}  // namespace
}  // namespace quorvel::testing

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorvel;
  using namespace quorvel::testing;
  FuzzedDataProvider input(data, size);
  std::vector<std::string> texts;
  texts.push_back(input.ConsumeRandomLengthString());
  texts.push_back(input.ConsumeRandomLengthString());
  texts.push_back(input.ConsumeRemainingBytesAsString());
  const std::string& text = texts[0];

  checkRule(escapeForJS, text, lessCarriageReturns(text));
  checkRule(escapeUsageForJS, text, lessLineEnds(text));
  // The narrower rule promises a valid literal only for the texts it is used on: JSON text (no
  // raw line end).
  if (text.find_first_of("\r\n") == std::string::npos) {
    checkRule(escapeBackslashesAndApostrophes, text, text);
  }

  for (const auto& call : pageCalls()) checkPageCall(call, texts);
  return 0;
}
