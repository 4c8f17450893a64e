#include "store/history_store.h"

#include <gtest/gtest.h>

#include "fakes/failing_file_system.h"
#include "fakes/temp_home.h"

namespace quorvel {
namespace {

TEST(HistoryStore, keeps_the_page_text_exactly_in_a_private_file_and_loads_only_usable_text) {
  testing::TempHome home;
  testing::FailingFileSystem files{localFileSystem()};
  HistoryStore store{home, files};
  EXPECT_FALSE(store.load());
  for (const std::string text : {"  [1, 2]\n", "not json {", "[\"caf\xC3\xA9 \xE2\x86\x92\"]"}) {
    store.save(text);
    EXPECT_EQ(store.load(), text);
  }
  EXPECT_EQ(home.mode(home.appFolder()), 0700u);
  EXPECT_EQ(home.mode(home.file("history.json")), 0600u);
  files.failWrites = true;  // an interrupted save keeps the previous history
  EXPECT_EQ(store.save("[\"lost\"]").error, "No space left on device");
  EXPECT_EQ(store.load(), "[\"caf\xC3\xA9 \xE2\x86\x92\"]");
  files.failWrites = false;
  store.save("");
  EXPECT_EQ(home.get("history.json"), "");
  EXPECT_FALSE(store.load());
  home.put("history.json", "[\"\xff\"]");
  EXPECT_FALSE(store.load());
}

}  // namespace
}  // namespace quorvel
