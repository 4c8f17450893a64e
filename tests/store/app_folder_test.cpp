#include "store/app_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "fakes/recording_console.h"
#include "fakes/temp_home.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;  // path below the folder → bytes

void putAll(const std::string& folder, const Files& files) {
  for (const auto& [name, bytes] : files) {
    fs::create_directories(fs::path(folder / fs::path(name)).parent_path());
    std::ofstream(folder + "/" + name, std::ios::binary) << bytes;
  }
}

const Files kOldFiles = {
    {"config.json", R"({"deepseek_api_key": "sk-old", "theme": "dark"})"},
    {"device_id", "0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9"},
    {"history.json", R"([{"raw": "hello", "polished": "Hello."}])"},
    {"usage.json", R"({"chars_total": 42})"},
    {"usage.json.unreadable-20261201T101010Z", "{not json"},
    {"models/de-DE/de-DE.dict", "hallo HH A L O\n"},
};

TEST(SettleAppFolder, moves_the_old_folder_over_once_and_never_over_an_existing_one) {
  struct Case {
    const char* name;
    std::optional<Files> old;      // the folder earlier versions used
    std::optional<Files> current;  // <config home>/quorvel
    std::optional<Files> oldAfter, currentAfter;
    bool movedLine;
  };
  const Files mine = {{"config.json", R"({"theme": "light"})"}};
  const Case cases[] = {
      {"fresh home", std::nullopt, std::nullopt, std::nullopt, Files{}, false},
      {"old folder only", kOldFiles, std::nullopt, std::nullopt, kOldFiles, true},
      {"both", kOldFiles, mine, kOldFiles, mine, false},
      {"current only", std::nullopt, mine, std::nullopt, mine, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempHome home;
    testing::RecordingConsole console;
    if (c.old) putAll(home.legacyAppFolder(), *c.old);
    if (c.current) putAll(home.appFolder(), *c.current);

    settleAppFolder(home, localFileSystem(), console);

    EXPECT_EQ(testing::readFolder(home.legacyAppFolder()), c.oldAfter);
    EXPECT_EQ(testing::readFolder(home.appFolder()), c.currentAfter);
    if (!c.current) {
      EXPECT_EQ(home.mode(home.appFolder()), 0700u);
    }
    std::vector<std::string> expected;
    if (c.movedLine) {
      expected.push_back("[Quorvel] Moved " + home.path() + "/Library/Application Support/Quorvel" +
                         " to " + home.path() + "/.config/quorvel");
    }
    EXPECT_EQ(console.lines(), expected);
  }
}

TEST(SettleAppFolder, a_move_that_fails_leaves_the_old_files_and_says_so) {
  testing::TempHome home;
  testing::RecordingConsole console;
  putAll(home.legacyAppFolder(), kOldFiles);
  // A file where the config home should be: nothing can be moved below it.
  std::ofstream(home.path() + "/.config") << "not a folder";

  settleAppFolder(home, localFileSystem(), console);

  EXPECT_EQ(testing::readFolder(home.legacyAppFolder()), kOldFiles);
  EXPECT_EQ(console.lines(), std::vector<std::string>{
                                 "[Quorvel] Could not move " + home.legacyAppFolder() + " to " +
                                 home.appFolder() + "; move its files there by hand to keep them"});
}

}  // namespace
}  // namespace quorvel
