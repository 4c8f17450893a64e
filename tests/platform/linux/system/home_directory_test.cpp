#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/home_directory.h"

namespace quorvel {
namespace {

// Restores an environment variable when the test ends.
class SavedVariable {
 public:
  explicit SavedVariable(const char* name = "HOME") : name_(name) {
    if (const char* value = std::getenv(name)) saved_ = value;
  }
  ~SavedVariable() {
    if (saved_) {
      setenv(name_, saved_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

TEST(SystemHomeDirectory, takes_HOME_without_its_trailing_slash) {
  SavedVariable restore;
  setenv("HOME", "/srv/someone/", 1);
  EXPECT_EQ(SystemHomeDirectory().path(), "/srv/someone");
}

TEST(SystemHomeDirectory, falls_back_to_the_password_database_when_HOME_is_unset_or_empty) {
  SavedVariable restore;
  passwd* entry = getpwuid(getuid());
  ASSERT_NE(entry, nullptr);
  std::string expected = entry->pw_dir;
  while (expected.size() > 1 && expected.back() == '/') expected.pop_back();
  unsetenv("HOME");
  EXPECT_EQ(SystemHomeDirectory().path(), expected);
  setenv("HOME", "", 1);
  EXPECT_EQ(SystemHomeDirectory().path(), expected);
}

TEST(SystemHomeDirectory,
     keeps_the_app_folder_in_XDG_CONFIG_HOME_when_absolute_else_in_dot_config) {
  SavedVariable restoreHome("HOME"), restoreConfig("XDG_CONFIG_HOME");
  setenv("HOME", "/home/someone", 1);
  const std::pair<std::optional<std::string>, std::string> cases[] = {
      {std::nullopt, "/home/someone/.config/quorvel"},
      {"", "/home/someone/.config/quorvel"},
      {"/srv/settings/", "/srv/settings/quorvel"},
      {"relative/settings", "/home/someone/.config/quorvel"},
  };
  for (const auto& [config, expected] : cases) {
    if (config) {
      setenv("XDG_CONFIG_HOME", config->c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
    EXPECT_EQ(SystemHomeDirectory().appFolder(), expected) << config.value_or("(unset)");
  }
  EXPECT_EQ(SystemHomeDirectory().legacyAppFolder(),
            "/home/someone/Library/Application Support/Quorvel");
}

}  // namespace
}  // namespace quorvel
