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

// The polisher over a file system that fails when the test says so.
class PolisherConfig : public ::testing::Test {
 protected:
  TempHome home;
  FakeHttpClient http;
  RecordingConsole console;
  FailingFileSystem files{localFileSystem()};
  DeepSeekPolisher polisher{home, files, http, console};
};

TEST_F(PolisherConfig, reads_an_object_or_nothing_and_the_key_only_when_a_non_empty_string) {
  const std::tuple<std::optional<std::string>, json, std::optional<std::string>> rows[] = {
      {std::nullopt, json::object(), std::nullopt},
      {R"(["deepseek_api_key"])", json::object(), std::nullopt},
      {"not json {", json::object(), std::nullopt},
      {"", json::object(), std::nullopt},
      {"\xff\xfe", json::object(), std::nullopt},
      {R"({"deepseek_api_key": " sk-123 "})", {{"deepseek_api_key", " sk-123 "}}, " sk-123 "},
      {R"({"deepseek_api_key": ""})", {{"deepseek_api_key", ""}}, std::nullopt},
      {R"({"deepseek_api_key": 42})", {{"deepseek_api_key", 42}}, std::nullopt},
      {R"({"deepseek_api_key": ["sk"]})", {{"deepseek_api_key", {"sk"}}}, std::nullopt},
  };
  for (const auto& [text, config, key] : rows) {
    if (text) home.put("config.json", *text);
    EXPECT_EQ(polisher.readConfig(), config) << text.value_or("(none)");
    EXPECT_EQ(polisher.getAPIKey(), key) << text.value_or("(none)");
  }
}

TEST_F(PolisherConfig, update_keeps_other_members_in_a_pretty_private_file_in_a_private_folder) {
  polisher.updateConfig("speech_locale", "de-DE");
  EXPECT_EQ(home.mode(home.appFolder()), 0700u);
  home.put("config.json", R"({"deepseek_api_key":"sk-1","window_count":3})");
  polisher.updateConfig("theme", "dark");
  polisher.updateConfig("theme", "light");
  auto text = home.get("config.json").value_or("");
  EXPECT_EQ(json::parse(text),
            json({{"deepseek_api_key", "sk-1"}, {"window_count", 3}, {"theme", "light"}}));
  EXPECT_NE(text.find("\n  \"window_count\": 3"), std::string::npos) << text;
  EXPECT_EQ(home.mode(home.file("config.json")), 0600u);
}

TEST_F(PolisherConfig, unreadable_config_is_set_aside_once_before_an_update_replaces_it) {
  home.put("config.json", "{\"deepseek_api_key\": \"sk-precious\",");
  polisher.updateConfig("theme", "dark");
  polisher.updateConfig("theme", "light");
  EXPECT_EQ(polisher.readConfig(), json({{"theme", "light"}}));
  auto aside = home.startingWith("config.json.unreadable-");
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_EQ(aside.begin()->second, "{\"deepseek_api_key\": \"sk-precious\",");
  // One line names the copy, so the user can find the key again.
  ASSERT_EQ(console.lines().size(), 1u);
  EXPECT_TRUE(std::regex_match(
      console.lines()[0], std::regex("\\[DeepSeek\\] .*/config\\.json could not be read; kept it "
                                     "as .*/config\\.json\\.unreadable-[0-9]{8}T[0-9]{6}Z")));
}

TEST_F(PolisherConfig, failed_write_or_set_aside_leaves_the_old_config_in_place) {
  const std::string old = R"({"deepseek_api_key":"sk-1","theme":"light"})";
  home.put("config.json", old);
  files.failWrites = true;
  polisher.updateConfig("theme", "dark");
  EXPECT_EQ(home.get("config.json"), old);
  EXPECT_EQ(console.lines(),
            std::vector<std::string>{"[DeepSeek] could not save " + polisher.configFile() +
                                     ": No space left on device"});
  home.put("config.json", "{broken");
  files.failWrites = false;
  files.failMoveAside = true;
  polisher.updateConfig("theme", "dark");
  EXPECT_EQ(home.get("config.json"), "{broken");
  EXPECT_EQ(files.writes, 1);
}

TEST_F(PolisherConfig, device_id_is_made_once_in_a_private_file_kept_trimmed_or_replaced) {
  std::string id = polisher.getDeviceID();
  EXPECT_TRUE(std::regex_match(id, std::regex("[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}")));
  EXPECT_EQ(home.get("device_id"), id);
  EXPECT_EQ(home.mode(home.file("device_id")), 0600u);
  EXPECT_EQ(polisher.getDeviceID(), id);
  home.put("device_id", "ABC-123\n");
  EXPECT_EQ(polisher.getDeviceID(), "ABC-123");
  EXPECT_EQ(home.get("device_id"), "ABC-123\n");
  for (const char* stored : {"", " \n\t", "AB\r\nX-Injected: 1", "\xff\xfe"}) {
    home.put("device_id", stored);
    id = polisher.getDeviceID();
    EXPECT_EQ(id.size(), 36u) << stored;
    EXPECT_EQ(home.get("device_id"), id);
  }
}

TEST_F(PolisherConfig, unwritable_device_id_still_gives_an_identifier_each_time) {
  files.failWrites = true;
  std::string first = polisher.getDeviceID();
  EXPECT_EQ(first.size(), 36u);
  EXPECT_NE(first, polisher.getDeviceID());
  EXPECT_FALSE(home.has("device_id"));
  EXPECT_EQ(console.lines().at(0), "[DeepSeek] could not save " + polisher.configDir() +
                                       "/device_id: No space left on device");
}

}  // namespace
}  // namespace quorvel
