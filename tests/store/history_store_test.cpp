#include "store/history_store.h"

#include <gtest/gtest.h>

#include "fakes/failing_file_system.h"
#include "fakes/temp_home.h"

namespace quorvel {
namespace {

using namespace quorvel::testing;

// The store over a file system that passes through until a test makes its writes fail.
class HistoryStoreTest : public ::testing::Test {
 protected:
  TempHome home;
  FailingFileSystem files{localFileSystem()};
  HistoryStore store{home, files};
};

TEST_F(HistoryStoreTest, nothing_saved_yet_loads_as_none) {
  EXPECT_EQ(store.historyFile(), home.file("history.json"));
  EXPECT_FALSE(store.load());
}

TEST_F(HistoryStoreTest, first_save_creates_the_private_folder_and_file) {
  store.save(R"([{"raw":"a","polished":"A"}])");
  EXPECT_EQ(home.mode(home.appSupport()), 0700u);
  EXPECT_EQ(home.mode(home.file("history.json")), 0600u);
  EXPECT_EQ(store.load(), R"([{"raw":"a","polished":"A"}])");
}

TEST_F(HistoryStoreTest, text_is_stored_and_returned_exactly_even_when_not_json) {
  for (const std::string text : {"  [1, 2]\n", "not json {", "[\"caf\xC3\xA9 \xE2\x86\x92\"]"}) {
    store.save(text);
    EXPECT_EQ(home.get("history.json"), text);
    EXPECT_EQ(store.load(), text);
  }
}

TEST_F(HistoryStoreTest, empty_text_is_written_and_then_loads_as_none) {
  store.save("[1]");
  store.save("");
  EXPECT_EQ(home.get("history.json"), "");
  EXPECT_FALSE(store.load());
}

TEST_F(HistoryStoreTest, file_that_is_not_utf8_loads_as_none) {
  home.put("history.json", "[\"\xff\"]");
  EXPECT_FALSE(store.load());
}

TEST_F(HistoryStoreTest, interrupted_save_keeps_the_previous_history) {
  store.save("[\"kept\"]");
  files.failWrites = true;
  EXPECT_EQ(store.save("[\"lost\"]").error, "No space left on device");
  EXPECT_EQ(store.load(), "[\"kept\"]");
}

}  // namespace
}  // namespace quorvel
