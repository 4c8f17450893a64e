// config.json holding anything: reading it never fails, a request goes out only to a URL the
// rules allow, and a setting written over it keeps every other key, or, when the file could not
// be read, keeps the old bytes in a set-aside copy.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_services.h"
#include "speech/audio_engine.h"
#include "store/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorvel;
  testing::FuzzServices s;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  s.files.files[s.polisher.configFile()] = bytes;
  auto parsed = nlohmann::json::parse(bytes, nullptr, false);
  FUZZ_CHECK(s.polisher.readConfig() == (parsed.is_object() ? parsed : nlohmann::json::object()));
  FUZZ_CHECK(s.polisher.getAPIKey().value_or("-") != "");
  (void)AudioEngine::loadSpeechLocale(s.polisher);

  int completions = 0;
  s.polisher.polish("hello", "Extract", [&](auto, auto) { ++completions; });
  auto sent = s.http.fake.sent();
  FUZZ_CHECK(sent.size() + static_cast<size_t>(completions) == 1);
  if (!sent.empty()) {  // https anywhere; plain http only to this machine
    auto url = s.http.parseURL(sent[0].url);
    FUZZ_CHECK(url && (url->scheme == "https" || url->host == "localhost" || url->host == "::1" ||
                       url->host.rfind("127.", 0) == 0));
    for (const auto& [name, value] : sent[0].headers) FUZZ_CHECK(!hasControlCharacter(value));
  }

  s.polisher.updateConfig("theme", "dark");
  auto aside = s.setAside(s.polisher.configFile());
  if (parsed.is_object()) parsed["theme"] = "dark";
  bool blank = bytes.find_first_not_of(" \t\r\n") == std::string::npos;
  FUZZ_CHECK(s.polisher.readConfig() ==
             (parsed.is_object() ? parsed : nlohmann::json{{"theme", "dark"}}));
  FUZZ_CHECK(aside ==
             (parsed.is_object() || blank ? std::vector<std::string>{} : std::vector{bytes}));
  return 0;
}
