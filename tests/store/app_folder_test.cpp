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

void putAll(const std::string& folder, const std::optional<Files>& files) {
  for (const auto& [name, bytes] : files.value_or(Files{})) {
    fs::create_directories(fs::path(folder + "/" + name).parent_path());
    std::ofstream(folder + "/" + name, std::ios::binary) << bytes;
  }
}

TEST(SettleAppFolder, moves_the_old_folder_over_once_and_never_over_an_existing_one) {
  const Files old = {{"config.json", R"({"deepseek_api_key": "sk-old"})"},
                     {"usage.json.unreadable-20261201T101010Z", "{not json"},
                     {"models/de-DE/de-DE.dict", "hallo HH A L O\n"}};
  const Files mine = {{"config.json", R"({"theme": "light"})"}};
  struct Case {
    std::optional<Files> old, current, oldAfter, currentAfter;
    bool blocked = false;  // a file where the config home should be
  };
  const Case cases[] = {
      {std::nullopt, std::nullopt, std::nullopt, Files{}},
      {old, std::nullopt, std::nullopt, old},
      {old, mine, old, mine},
      {std::nullopt, mine, std::nullopt, mine},
      {old, std::nullopt, old, std::nullopt, true},
  };
  for (const Case& c : cases) {
    testing::TempHome home;
    testing::RecordingConsole console;
    putAll(home.legacyAppFolder(), c.old);
    putAll(home.appFolder(), c.current);
    if (c.blocked) std::ofstream(home.path() + "/.config") << "not a folder";
    settleAppFolder(home, localFileSystem(), console);
    EXPECT_EQ(testing::readFolder(home.legacyAppFolder()), c.oldAfter);
    EXPECT_EQ(testing::readFolder(home.appFolder()), c.currentAfter);
    EXPECT_TRUE(c.current || c.blocked || home.mode(home.appFolder()) == 0700u);
    std::vector<std::string> said;
    if (c.old && !c.current) {
      said.push_back(c.blocked
                         ? "[Quorvel] Could not move " + home.legacyAppFolder() + " to " +
                               home.appFolder() + "; move its files there by hand to keep them"
                         : "[Quorvel] Moved " + home.legacyAppFolder() + " to " + home.appFolder());
    }
    EXPECT_EQ(console.lines(), said);
  }
}

}  // namespace
}  // namespace quorvel
