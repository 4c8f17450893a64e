// config.json and device_id: what is read from any content, and what a write leaves behind
// when it works and when the disk fails.
#include <gtest/gtest.h>

#include <regex>

#include "fakes/failing_file_system.h"
#include "fakes/fake_http_client.h"
#include "fakes/recording_console.h"
#include "fakes/temp_home.h"
#include "polish/deepseek_polisher.h"

namespace quorvel {
namespace {

using namespace quorvel::testing;
using json = nlohmann::json;
constexpr auto npos = std::string::npos;

// Each row on a fresh home: the polisher over a file system that fails when the row says so.
struct OnFreshHome {
  TempHome home;
  FakeHttpClient http;
  RecordingConsole console;
  FailingFileSystem files{localFileSystem()};
  DeepSeekPolisher polisher{home, files, http, console};
};

TEST(PolisherConfig, reads_an_object_or_nothing_and_an_update_loses_no_stored_byte) {
  enum Fault { none, writes, moveAside };
  const std::optional<std::string> no;
  // stored → read, the key found, the fault of the next write
  const std::tuple<std::optional<std::string>, json, std::optional<std::string>, Fault> rows[] = {
      {no, json::object(), no, none},
      {"", json::object(), no, none},
      {R"(["deepseek_api_key"])", json::object(), no, none},
      {"not json {", json::object(), no, none},
      {R"({"deepseek_api_key": " sk-1 ", "n": 3})",
       {{"deepseek_api_key", " sk-1 "}, {"n", 3}},
       " sk-1 ",
       none},
      {R"({"deepseek_api_key": ""})", {{"deepseek_api_key", ""}}, no, none},
      {R"({"deepseek_api_key": 42})", {{"deepseek_api_key", 42}}, no, none},
      {R"({"deepseek_api_key": "sk-1"})", {{"deepseek_api_key", "sk-1"}}, "sk-1", writes},
      {"{broken", json::object(), no, moveAside},
  };
  for (const auto& [stored, config, key, fault] : rows) {
    SCOPED_TRACE(stored.value_or("(none)"));
    OnFreshHome s;
    const std::string file = s.polisher.configFile();
    if (stored) s.home.put("config.json", *stored);
    EXPECT_EQ(s.polisher.readConfig(), config);
    EXPECT_EQ(s.polisher.getAPIKey(), key);
    s.files.failWrites = fault == writes;
    s.files.failMoveAside = fault == moveAside;
    s.polisher.updateConfig("theme", "dark");
    if (fault != none) {
      EXPECT_EQ(s.home.get("config.json"), stored);
      EXPECT_EQ(s.console.lines().at(0).rfind("[DeepSeek] could not save " + file + ": ", 0), 0u);
      continue;
    }
    json updated = config;
    updated["theme"] = "dark";
    EXPECT_EQ(s.polisher.readConfig(), updated);
    EXPECT_NE(s.home.get("config.json")->find("\n  \"theme\": \"dark\""), npos);  // for hand edits
    EXPECT_EQ(s.home.mode(file), 0600u);
    if (!stored) {  // a folder it made itself
      EXPECT_EQ(s.home.mode(s.home.appFolder()), 0700u);
    }
    auto aside = s.home.startingWith("config.json.unreadable-");
    std::vector<std::string> reported;
    for (const auto& [name, bytes] : aside) {
      EXPECT_EQ(bytes, stored);
      reported.push_back("[DeepSeek] " + file + " could not be read; kept it as " +
                         s.polisher.configDir() + "/" + name);
    }
    EXPECT_EQ(aside.size(), stored.value_or("") != "" && config.empty() ? 1u : 0u);
    EXPECT_EQ(s.console.lines(), reported);
  }
}

TEST(PolisherConfig, device_id_is_made_once_in_a_private_file_kept_trimmed_or_replaced) {
  const std::pair<std::optional<std::string>, std::string> rows[] = {
      // stored → the identifier kept ("": a fresh one)
      {std::nullopt, ""}, {"ABC-123\n", "ABC-123"},    {"", ""},
      {" \n\t", ""},      {"AB\r\nX-Injected: 1", ""}, {"\xff\xfe", ""},
  };
  for (const auto& [stored, kept] : rows) {
    SCOPED_TRACE(stored.value_or("(none)"));
    OnFreshHome s;
    if (stored) s.home.put("device_id", *stored);
    std::string id = s.polisher.getDeviceID();
    EXPECT_EQ(s.polisher.getDeviceID(), id);
    EXPECT_EQ(s.home.get("device_id"), kept.empty() ? id : stored);
    EXPECT_TRUE(kept.empty()
                    ? std::regex_match(id, std::regex("[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}"))
                    : id == kept)
        << id;
    if (kept.empty()) {
      EXPECT_EQ(s.home.mode(s.home.file("device_id")), 0600u);
    }
  }
  OnFreshHome s;  // unwritable: still one each time, and a line saying why
  s.files.failWrites = true;
  std::string first = s.polisher.getDeviceID();
  EXPECT_NE(first, s.polisher.getDeviceID());
  EXPECT_FALSE(s.home.has("device_id"));
  EXPECT_EQ(s.console.lines().at(0), "[DeepSeek] could not save " + s.polisher.configDir() +
                                         "/device_id: No space left on device");
}

}  // namespace
}  // namespace quorvel
