#include "platform/uuid.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace quorvel {
namespace {

TEST(MakeUUID, gives_distinct_upper_case_version_4_identifiers) {
  std::regex form("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    EXPECT_TRUE(std::regex_match(*seen.insert(makeUUID()).first, form));
  }
  EXPECT_EQ(seen.size(), 100u);
}

}  // namespace
}  // namespace quorvel
