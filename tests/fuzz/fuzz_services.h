// What the fuzz targets build the real polisher and stores on: files in memory, a fixed home
// and day, a recording console, and an HTTP client that parses URLs with libcurl (as the
// program does) but sends nothing and answers only when the target says so.
#pragma once

#include <string>

#include "fakes/fake_http_client.h"
#include "fakes/fixed_calendar.h"
#include "fakes/memory_file_system.h"
#include "fakes/recording_console.h"
#include "platform/home_directory.h"
#include "platform/linux/system/curl_http_client.h"
#include "polish/deepseek_polisher.h"
#include "store/history_store.h"
#include "store/usage_store.h"

namespace quorvel::testing {

class CurlParsingHttpClient final : public HttpClient {
 public:
  std::optional<ParsedURL> parseURL(const std::string& text) const override {
    // One client for the whole run: its worker thread idles, nothing is ever sent through it.
    static CurlHttpClient* curl = new CurlHttpClient();
    return curl->parseURL(text);
  }
  void send(HttpRequest request, Completion done) override {
    fake.send(std::move(request), std::move(done));
  }
  FakeHttpClient fake;
};

struct FuzzServices {
  FixedHomeDirectory home{"/home/fuzz"};
  MemoryFileSystem files;
  RecordingConsole console;
  FixedCalendar calendar{"2026-12-06"};
  CurlParsingHttpClient http;
  DeepSeekPolisher polisher{home, files, http, console};
  HistoryStore history{home, files};
  UsageStore usage{home, files, calendar};

  // The bytes of the files set aside from `file` (at most one is expected).
  std::vector<std::string> setAside(const std::string& file) const {
    std::vector<std::string> found;
    for (const auto& [path, bytes] : files.files) {
      if (path.rfind(file + ".unreadable-", 0) == 0) found.push_back(bytes);
    }
    return found;
  }
};

}  // namespace quorvel::testing
