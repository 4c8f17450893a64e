#include "store/app_folder.h"

#include <gtest/gtest.h>

#include "fakes/recording_console.h"
#include "fakes/temp_home.h"

namespace quorvel {
namespace {

using namespace quorvel::testing;

void putAll(const std::string& folder, const std::optional<Files>& files) {
  for (const auto& [name, bytes] : files.value_or(Files{})) {
    std::filesystem::create_directories(std::filesystem::path(folder + "/" + name).parent_path());
    std::ofstream(folder + "/" + name, std::ios::binary) << bytes;
  }
}

TEST(SettleAppFolder, moves_the_old_folder_over_once_and_never_over_an_existing_one) {
  const Files old = {{"config.json", R"({"deepseek_api_key": "sk-old"})"},
                     {"models/de-DE/de-DE.dict", "hallo HH A L O\n"}};
  const Files mine = {{"config.json", R"({"theme": "light"})"}};
  struct Case {
    std::optional<Files> old, current, oldAfter, currentAfter;
  };
  const Case cases[] = {
      {std::nullopt, std::nullopt, std::nullopt, Files{}},
      {old, std::nullopt, std::nullopt, old},
      {old, mine, old, mine},
  };
  for (const Case& c : cases) {
    TempHome home;
    RecordingConsole console;
    putAll(home.legacyAppFolder(), c.old);
    putAll(home.appFolder(), c.current);
    settleAppFolder(home, localFileSystem(), console);
    EXPECT_EQ(readFolder(home.legacyAppFolder()), c.oldAfter);
    EXPECT_EQ(readFolder(home.appFolder()), c.currentAfter);
    EXPECT_TRUE(c.current || home.mode(home.appFolder()) == 0700u);
    const bool moved = c.old && !c.oldAfter;
    EXPECT_EQ(console.lines(),
              moved ? std::vector<std::string>{"[Quorvel] Moved " + home.legacyAppFolder() +
                                               " to " + home.appFolder()}
                    : std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace quorvel
