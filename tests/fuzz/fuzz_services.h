// What the fuzz targets build the real polisher and stores on: files in memory, a fixed home
// and day, a recording console, and an HTTP client that sends nothing and answers only when
// the target says so.
#pragma once

#include <string>

#include "fakes/fake_http_client.h"
#include "fakes/fixed_calendar.h"
#include "fakes/memory_file_system.h"
#include "fakes/recording_console.h"
#include "platform/home_directory.h"
#include "polish/deepseek_polisher.h"
#include "store/history_store.h"
#include "store/usage_store.h"

namespace quorvel::testing {

struct FuzzServices {
  FixedHomeDirectory home{"/home/fuzz"};
  MemoryFileSystem files;
  RecordingConsole console;
  FixedCalendar calendar{"2026-12-06"};
  FakeHttpClient http;
  DeepSeekPolisher polisher{home, files, http, console};
  HistoryStore history{home, files};
  UsageStore usage{home, files, calendar};

  // The bytes of the files set aside from `file`.
  std::vector<std::string> setAside(const std::string& file) const {
    std::vector<std::string> found;
    for (const auto& [path, bytes] : files.files) {
      if (path.starts_with(file + ".unreadable-")) found.push_back(bytes);
    }
    return found;
  }
};

// What a store must set aside before it writes over a file holding `bytes`: the bytes, unless
// they read as an object or are blank.
inline std::vector<std::string> unreadable(const std::string& bytes) {
  if (nlohmann::json::parse(bytes, nullptr, false).is_object()) return {};
  if (bytes.find_first_not_of(" \t\r\n") == std::string::npos) return {};
  return {bytes};
}

}  // namespace quorvel::testing
