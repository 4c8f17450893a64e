// usage.json and history.json holding anything: each is handed to the page only as stored and
// only when non-empty valid UTF-8 (usage's in a valid literal), usage reads as an object, and
// counting a session over it leaves a readable file one session further on, with what could
// not be read kept aside byte for byte.
#include <cassert>
#include <cstdint>
#include <limits>
#include <string>

#include "fuzz/fuzz_services.h"
#include "fuzz/js_string_literal.h"
#include "store/utf8.h"
#include "web/page_calls.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorvel;
  testing::FuzzServices s;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  s.files.files[s.usage.usageFile()] = s.files.files[s.history.historyFile()] = bytes;
  const auto usable = !bytes.empty() && isValidUTF8(bytes) ? std::optional(bytes) : std::nullopt;
  assert(s.usage.loadRaw() == usable && s.history.load() == usable);
  assert(!usable || testing::splitLiterals(page::injectUsageData(bytes)));
  nlohmann::json before = s.usage.load();
  assert(before.is_object());

  s.usage.recordSession(static_cast<int64_t>(size) - 8);
  auto after = nlohmann::json::parse(s.files.files[s.usage.usageFile()], nullptr, false);
  assert(after.is_object() && after["total_sessions"].is_number_integer() &&
         after["daily_stats"]["2026-12-06"]["sessions"].is_number_integer());
  auto sessions = before.value("total_sessions", nlohmann::json());
  if (sessions.is_number_integer() && sessions >= 0 &&
      sessions < std::numeric_limits<int64_t>::max()) {
    assert(after["total_sessions"] == sessions.get<int64_t>() + 1);
  }
  // An unreadable day table inside an object is set aside too.
  auto aside = s.setAside(s.usage.usageFile());
  assert(aside == testing::unreadable(bytes) || aside == std::vector{bytes});
  return 0;
}
