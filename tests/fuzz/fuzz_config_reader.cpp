// config.json holding anything: reading it never fails, a request goes out only to a URL the
// rules allow, and a setting written over it keeps every other key, or, when the file could not
// be read, keeps the old bytes in a set-aside copy.
#include <cassert>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_services.h"
#include "speech/audio_engine.h"
#include "store/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorvel;
  testing::FuzzServices s;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  s.files.files[s.polisher.configFile()] = bytes;
  auto config = nlohmann::json::parse(bytes, nullptr, false);
  if (!config.is_object()) config = nlohmann::json::object();
  assert(s.polisher.readConfig() == config);
  assert(s.polisher.getAPIKey().value_or("-") != "");
  (void)AudioEngine::loadSpeechLocale(s.polisher);

  int completions = 0;
  s.polisher.polish("hello", "Extract", [&](auto, auto) { ++completions; });
  auto sent = s.http.sent();
  assert(sent.size() + static_cast<size_t>(completions) == 1);
  for (const auto& request : sent) {  // https anywhere; plain http only to this machine
    auto url = s.http.parseURL(request.url);
    assert(url && (url->scheme == "https" || url->host == "localhost" || url->host == "::1" ||
                   url->host.starts_with("127.")));
    for (const auto& [name, value] : request.headers) assert(!hasControlCharacter(value));
  }

  s.polisher.updateConfig("theme", "dark");
  config["theme"] = "dark";
  assert(s.polisher.readConfig() == config);
  assert(s.setAside(s.polisher.configFile()) == testing::unreadable(bytes));
  return 0;
}
