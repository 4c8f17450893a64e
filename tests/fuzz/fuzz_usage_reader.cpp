// usage.json holding anything: it reads as an object, reaches the page as a valid literal, and
// counting a session over it leaves a readable file one session further on, with what could
// not be read kept aside byte for byte.
#include <cstdint>
#include <limits>
#include <string>

#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_services.h"
#include "fuzz/js_string_literal.h"
#include "web/page_calls.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorvel;
  testing::FuzzServices s;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  s.files.files[s.usage.usageFile()] = bytes;
  nlohmann::json before = s.usage.load();
  FUZZ_CHECK(before.is_object());
  if (auto raw = s.usage.loadRaw()) FUZZ_CHECK(testing::splitLiterals(page::injectUsageData(*raw)));

  s.usage.recordSession(static_cast<int64_t>(size) - 8);
  auto after =
      nlohmann::json::parse(s.files.readFile(s.usage.usageFile()).value_or(""), nullptr, false);
  FUZZ_CHECK(after.is_object() && after["total_sessions"].is_number_integer());
  FUZZ_CHECK(after["daily_stats"]["2026-12-06"]["sessions"].is_number_integer());
  auto sessions = before.value("total_sessions", nlohmann::json());
  if (sessions.is_number_integer() && sessions >= 0 &&
      sessions < std::numeric_limits<int64_t>::max()) {
    FUZZ_CHECK(after["total_sessions"] == sessions.get<int64_t>() + 1);
  }
  auto aside = s.setAside(s.usage.usageFile());
  FUZZ_CHECK(aside.size() <= 1 && (aside.empty() || aside[0] == bytes));
  bool blank = bytes.find_first_not_of(" \t\r\n") == std::string::npos;
  if (!nlohmann::json::parse(bytes, nullptr, false).is_object() && !blank)
    FUZZ_CHECK(aside.size() == 1);
  return 0;
}
