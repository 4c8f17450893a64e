#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/home_directory.h"

namespace quorvel {
namespace {

// Restores HOME when the test ends.
class HomeVariable {
 public:
  HomeVariable() {
    if (const char* value = std::getenv("HOME")) saved_ = value;
  }
  ~HomeVariable() {
    if (saved_) {
      setenv("HOME", saved_->c_str(), 1);
    } else {
      unsetenv("HOME");
    }
  }

 private:
  std::optional<std::string> saved_;
};

TEST(SystemHomeDirectory, takes_HOME_without_its_trailing_slash) {
  HomeVariable restore;
  setenv("HOME", "/srv/someone/", 1);
  EXPECT_EQ(SystemHomeDirectory().path(), "/srv/someone");
}

TEST(SystemHomeDirectory, falls_back_to_the_password_database_when_HOME_is_unset_or_empty) {
  HomeVariable restore;
  passwd* entry = getpwuid(getuid());
  ASSERT_NE(entry, nullptr);
  std::string expected = entry->pw_dir;
  while (expected.size() > 1 && expected.back() == '/') expected.pop_back();
  unsetenv("HOME");
  EXPECT_EQ(SystemHomeDirectory().path(), expected);
  setenv("HOME", "", 1);
  EXPECT_EQ(SystemHomeDirectory().path(), expected);
}

}  // namespace
}  // namespace quorvel
