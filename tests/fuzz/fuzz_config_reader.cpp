// config.json holding anything: reading it never fails, a request goes out only to a URL the
// rules allow, and a setting written over it keeps every other key, or, when the file could not
// be read, keeps the old bytes in a set-aside copy.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_services.h"
#include "speech/audio_engine.h"
#include "store/utf8.h"

namespace {

bool allowedURL(const quorvel::HttpClient& http, const std::string& url) {
  auto parts = http.parseURL(url);
  if (!parts) return false;
  if (parts->scheme == "https") return true;
  return parts->scheme == "http" &&
         (parts->host == "localhost" || parts->host == "::1" || parts->host.rfind("127.", 0) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorvel;
  using namespace quorvel::testing;
  FuzzServices s;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  s.files.files[s.polisher.configFile()] = bytes;

  nlohmann::json config = s.polisher.readConfig();
  FUZZ_CHECK(config.is_object());
  auto parsed = nlohmann::json::parse(bytes, nullptr, false);
  if (parsed.is_object()) FUZZ_CHECK(config == parsed);
  auto key = s.polisher.getAPIKey();
  if (key) FUZZ_CHECK(!key->empty());
  (void)AudioEngine::loadSpeechLocale(s.polisher);

  int completions = 0;
  s.polisher.polish("hello", "Extract",
                    [&](std::optional<std::string>, std::optional<ChatError>) { ++completions; });
  auto sent = s.http.fake.sent();
  FUZZ_CHECK(sent.size() + static_cast<size_t>(completions) == 1);
  if (!sent.empty()) {
    FUZZ_CHECK(allowedURL(s.http, sent[0].url));
    for (const auto& [name, value] : sent[0].headers) FUZZ_CHECK(!hasControlCharacter(value));
  }

  s.polisher.updateConfig("theme", "dark");
  nlohmann::json after = s.polisher.readConfig();
  FUZZ_CHECK(after.value("theme", "") == "dark");
  int setAside = s.countStartingWith("config.json.unreadable-");
  bool blank = bytes.find_first_not_of(" \t\r\n") == std::string::npos;
  if (parsed.is_object()) {
    FUZZ_CHECK(setAside == 0);
    parsed["theme"] = "dark";
    FUZZ_CHECK(after == parsed);
  } else if (blank) {
    FUZZ_CHECK(setAside == 0);
  } else {
    FUZZ_CHECK(setAside == 1);
    FUZZ_CHECK(s.firstStartingWith("config.json.unreadable-") == bytes);
  }
  return 0;
}
