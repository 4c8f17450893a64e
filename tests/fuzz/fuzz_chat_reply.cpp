// Any reply body, with any status, to a polish and to an edit request: each completion runs
// exactly once, and a text it gives is the reply's answer, trimmed and never empty.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_services.h"
#include "store/utf8.h"

namespace {

void checkAnswer(const std::optional<std::string>& text, const std::optional<quorvel::ChatError>&,
                 const std::string& body) {
  if (!text) return;
  FUZZ_CHECK(!text->empty());
  FUZZ_CHECK(quorvel::trimWhitespace(*text) == *text);
  FUZZ_CHECK(quorvel::isValidUTF8(*text));
  auto reply = nlohmann::json::parse(body, nullptr, false);
  FUZZ_CHECK(reply.is_object());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorvel;
  using namespace quorvel::testing;
  FuzzedDataProvider input(data, size);
  FuzzServices s;
  if (input.ConsumeBool()) {
    s.files.files[s.polisher.configFile()] = R"({"deepseek_api_key": "sk-fuzz"})";
  }
  long status = input.ConsumeIntegralInRange<long>(0, 599);
  const std::string body = input.ConsumeRemainingBytesAsString();

  int polished = 0;
  int edited = 0;
  s.polisher.polish("hello", "Extract",
                    [&](std::optional<std::string> text, std::optional<ChatError> error) {
                      ++polished;
                      checkAnswer(text, error, body);
                    });
  s.polisher.edit("hello", "shorter",
                  [&](std::optional<std::string> text, std::optional<ChatError> error) {
                    ++edited;
                    checkAnswer(text, error, body);
                  });
  FUZZ_CHECK(s.http.fake.pending() == 2);
  s.http.fake.reply(0, status, body);
  s.http.fake.reply(0, status, body);
  FUZZ_CHECK(polished == 1 && edited == 1);
  return 0;
}
