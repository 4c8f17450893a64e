#include "speech/grapheme_count.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

TEST(GraphemeCount, counts_and_cuts_user_perceived_characters_not_bytes_or_code_points) {
  const std::string family =
      "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
  const std::string accented = "e\xCC\x81";  // e and a combining acute
  struct Row {
    std::string text;
    size_t count;
    std::string firstTwo;
  };
  for (const Row& row : std::vector<Row>{
           {"", 0, ""},
           {"hello", 5, "he"},
           {family + "x", 2, family + "x"},
           {accented + accented + "t", 3, accented + accented},
           {"\xE4\xBD\xA0\xE5\xA5\xBD!", 3, "\xE4\xBD\xA0\xE5\xA5\xBD"},
           {"\xF0\x9F\x87\xAF\xF0\x9F\x87\xB5", 1, "\xF0\x9F\x87\xAF\xF0\x9F\x87\xB5"},  // a flag
           {"a\r\nb", 3, "a\r\n"},
       }) {
    EXPECT_EQ(countCharacters(row.text), row.count) << row.text;
    EXPECT_EQ(firstCharacters(row.text, 2), row.firstTwo) << row.text;
  }
  EXPECT_EQ(firstCharacters("abc", 0), "");
}

}  // namespace
}  // namespace quorvel
