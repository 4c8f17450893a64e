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

class PolisherConfig : public ::testing::Test {
 protected:
  TempHome home;
  FakeHttpClient http;
  RecordingConsole console;
  DeepSeekPolisher polisher{home, localFileSystem(), http, console};
};

TEST_F(PolisherConfig, missing_or_malformed_config_reads_as_empty_and_gives_no_key) {
  EXPECT_EQ(polisher.configFile(), home.file("config.json"));
  EXPECT_TRUE(polisher.readConfig().is_object());
  EXPECT_TRUE(polisher.readConfig().empty());
  EXPECT_FALSE(polisher.getAPIKey());
  for (const char* bad : {R"(["deepseek_api_key"])", "not json {", "", "\xff\xfe"}) {
    home.put("config.json", bad);
    EXPECT_TRUE(polisher.readConfig().is_object()) << bad;
    EXPECT_TRUE(polisher.readConfig().empty()) << bad;
    EXPECT_FALSE(polisher.getAPIKey()) << bad;
  }
}

TEST_F(PolisherConfig, key_is_returned_exactly_and_empty_or_non_string_keys_count_as_none) {
  home.put("config.json", R"({"deepseek_api_key": " sk-123 "})");
  EXPECT_EQ(polisher.getAPIKey(), " sk-123 ");
  home.put("config.json", R"({"deepseek_api_key": ""})");
  EXPECT_FALSE(polisher.getAPIKey());
  for (const char* value : {"42", "null", "{}", "[\"sk\"]"}) {
    home.put("config.json", std::string(R"({"deepseek_api_key": )") + value + "}");
    EXPECT_FALSE(polisher.getAPIKey()) << value;
  }
}

TEST_F(PolisherConfig, update_keeps_other_members_and_writes_a_pretty_private_file) {
  home.put("config.json", R"({"deepseek_api_key":"sk-1","window_count":3})");
  polisher.updateConfig("theme", "dark");
  auto text = home.get("config.json");
  ASSERT_TRUE(text);
  auto config = nlohmann::json::parse(*text);
  EXPECT_EQ(config,
            nlohmann::json({{"deepseek_api_key", "sk-1"}, {"window_count", 3}, {"theme", "dark"}}));
  EXPECT_TRUE(config["window_count"].is_number_integer());
  EXPECT_NE(text->find("\n  \"theme\": \"dark\""), std::string::npos) << *text;
  EXPECT_EQ(home.mode(home.file("config.json")), 0600u);

  polisher.updateConfig("theme", "light");
  EXPECT_EQ(polisher.readConfig()["theme"], "light");
  EXPECT_EQ(polisher.readConfig().size(), 3u);
}

TEST_F(PolisherConfig, first_update_creates_the_private_folder) {
  polisher.updateConfig("speech_locale", "de-DE");
  EXPECT_EQ(home.mode(home.appSupport()), 0700u);
  EXPECT_EQ(polisher.readConfig(), nlohmann::json({{"speech_locale", "de-DE"}}));
}

TEST_F(PolisherConfig, unreadable_config_is_set_aside_before_an_update_replaces_it) {
  const std::string broken = "{\"deepseek_api_key\": \"sk-precious\",";
  home.put("config.json", broken);
  polisher.updateConfig("theme", "dark");
  EXPECT_EQ(polisher.readConfig(), nlohmann::json({{"theme", "dark"}}));
  ASSERT_EQ(home.countStartingWith("config.json.unreadable-"), 1);
  EXPECT_EQ(home.getStartingWith("config.json.unreadable-"), broken);
  // One line names the copy, so the user can find the key again.
  ASSERT_EQ(console.lines().size(), 1u);
  EXPECT_TRUE(
      std::regex_match(console.lines()[0],
                       std::regex("\\[DeepSeek\\] .*/config\\.json could not be read; kept it as "
                                  ".*/config\\.json\\.unreadable-[0-9]{8}T[0-9]{6}Z")));
  polisher.updateConfig("theme", "light");
  EXPECT_EQ(home.countStartingWith("config.json.unreadable-"), 1);
  EXPECT_EQ(console.lines().size(), 1u);
}

// The same polisher over a file system that fails when the test says so.
class PolisherConfigFaults : public ::testing::Test {
 protected:
  TempHome home;
  FakeHttpClient http;
  RecordingConsole console;
  FailingFileSystem files{localFileSystem()};
  DeepSeekPolisher polisher{home, files, http, console};
};

TEST_F(PolisherConfigFaults, interrupted_write_leaves_the_old_config_in_place_and_says_so) {
  const std::string old = R"({"deepseek_api_key":"sk-1","theme":"light"})";
  home.put("config.json", old);
  files.failWrites = true;
  polisher.updateConfig("theme", "dark");
  EXPECT_EQ(files.writes, 1);
  EXPECT_EQ(home.get("config.json"), old);
  EXPECT_EQ(polisher.getAPIKey(), "sk-1");
  EXPECT_EQ(console.lines(),
            std::vector<std::string>{"[DeepSeek] could not save " + polisher.configFile() +
                                     ": No space left on device"});
}

TEST_F(PolisherConfigFaults, unreadable_config_that_cannot_be_set_aside_is_not_replaced) {
  home.put("config.json", "{broken");
  files.failMoveAside = true;
  polisher.updateConfig("theme", "dark");
  EXPECT_EQ(home.get("config.json"), "{broken");
  EXPECT_EQ(files.writes, 0);
}

TEST_F(PolisherConfig, device_id_is_created_once_in_a_private_file_and_kept) {
  std::string id = polisher.getDeviceID();
  EXPECT_TRUE(std::regex_match(id, std::regex("[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}")));
  EXPECT_EQ(home.get("device_id"), id);
  EXPECT_EQ(home.mode(home.file("device_id")), 0600u);
  EXPECT_EQ(home.mode(home.appSupport()), 0700u);
  EXPECT_EQ(polisher.getDeviceID(), id);
}

TEST_F(PolisherConfig, stored_device_id_is_trimmed_without_rewriting_the_file) {
  home.put("device_id", "ABC-123\n");
  EXPECT_EQ(polisher.getDeviceID(), "ABC-123");
  EXPECT_EQ(home.get("device_id"), "ABC-123\n");
}

TEST_F(PolisherConfig, blank_unusable_or_non_utf8_device_id_is_replaced) {
  for (const char* stored : {"", " \n\t", "AB\r\nX-Injected: 1", "\xff\xfe"}) {
    home.put("device_id", stored);
    std::string id = polisher.getDeviceID();
    EXPECT_EQ(id.size(), 36u) << stored;
    EXPECT_EQ(home.get("device_id"), id);
  }
}

TEST_F(PolisherConfigFaults, unwritable_device_id_still_gives_an_identifier_each_time) {
  files.failWrites = true;
  std::string first = polisher.getDeviceID();
  std::string second = polisher.getDeviceID();
  EXPECT_EQ(first.size(), 36u);
  EXPECT_NE(first, second);
  EXPECT_FALSE(home.has("device_id"));
  EXPECT_EQ(console.lines().at(0), "[DeepSeek] could not save " + polisher.configDir() +
                                       "/device_id: No space left on device");
}

}  // namespace
}  // namespace quorvel
