#include "speech/grapheme_count.h"

#include <string>

#include <gtest/gtest.h>

namespace quorvel {
namespace {

TEST(GraphemeCount, counts_user_perceived_characters_not_bytes_or_code_points) {
  EXPECT_EQ(countCharacters(""), 0u);
  EXPECT_EQ(countCharacters("hello"), 5u);
  EXPECT_EQ(countCharacters("\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91"
                            "\xA7\xE2\x80\x8D\xF0\x9F\x91\xA6"),
            1u);                                                       // family with joiners
  EXPECT_EQ(countCharacters("e\xCC\x81t\xC3\xA9"), 3u);                // e + combining acute, t, é
  EXPECT_EQ(countCharacters("\xE4\xBD\xA0\xE5\xA5\xBD"), 2u);          // two CJK characters
  EXPECT_EQ(countCharacters("\xF0\x9F\x87\xAF\xF0\x9F\x87\xB5"), 1u);  // a flag
  EXPECT_EQ(countCharacters("a\r\nb"), 3u);                            // CR LF is one character
}

TEST(GraphemeCount, prefix_keeps_whole_characters) {
  std::string accented;
  for (int i = 0; i < 60; ++i) accented += "e\xCC\x81";
  std::string expected;
  for (int i = 0; i < 50; ++i) expected += "e\xCC\x81";
  EXPECT_EQ(firstCharacters(accented, 50), expected);
  EXPECT_EQ(firstCharacters("short", 50), "short");
  EXPECT_EQ(firstCharacters("", 50), "");
  EXPECT_EQ(firstCharacters("abc", 0), "");
}

TEST(GraphemeCount, trims_unicode_white_space_and_line_ends_only_at_the_ends) {
  EXPECT_EQ(trimWhitespaceAndNewlines("  hello \n"), "hello");
  EXPECT_EQ(trimWhitespaceAndNewlines("\t\r\n a b \r\n"), "a b");
  // No-break space, ideographic space and the line separator are white space too.
  EXPECT_EQ(trimWhitespaceAndNewlines("\xC2\xA0\xE3\x80\x80x\xE2\x80\xA8"), "x");
  EXPECT_EQ(trimWhitespaceAndNewlines(" \n \r\n"), "");
  EXPECT_EQ(trimWhitespaceAndNewlines("\xE4\xBD\xA0 "), "\xE4\xBD\xA0");
}

}  // namespace
}  // namespace quorvel
