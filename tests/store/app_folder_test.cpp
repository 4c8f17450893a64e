#include "store/app_folder.h"

#include <gtest/gtest.h>

#include "fakes/recording_console.h"
#include "fakes/temp_home.h"

namespace quorvel {
namespace {

using namespace quorvel::testing;
using Folders = std::pair<std::optional<Files>, std::optional<Files>>;  // the old one, ours

void putAll(const std::string& folder, const std::optional<Files>& files) {
  for (const auto& [name, bytes] : files.value_or(Files{})) {
    std::filesystem::create_directories(std::filesystem::path(folder + "/" + name).parent_path());
    std::ofstream(folder + "/" + name) << bytes;
  }
}

TEST(SettleAppFolder, moves_the_old_folder_over_once_and_never_over_an_existing_one) {
  const Files old = {{"config.json", "{}"}, {"models/de-DE/de-DE.dict", "hallo HH A L O\n"}};
  const Files mine = {{"config.json", R"({"theme": "light"})"}};
  const std::pair<Folders, Folders> cases[] = {
      {{std::nullopt, std::nullopt}, {std::nullopt, Files{}}},
      {{old, std::nullopt}, {std::nullopt, old}},
      {{old, mine}, {old, mine}},
  };
  for (const auto& [before, after] : cases) {
    TempHome home;
    RecordingConsole console;
    putAll(home.legacyAppFolder(), before.first);
    putAll(home.appFolder(), before.second);
    settleAppFolder(home, localFileSystem(), console);
    EXPECT_EQ(Folders(readFolder(home.legacyAppFolder()), readFolder(home.appFolder())), after);
    EXPECT_TRUE(before.second || home.mode(home.appFolder()) == 0700u);
  }
}

}  // namespace
}  // namespace quorvel
