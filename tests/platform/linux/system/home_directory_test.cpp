#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/home_directory.h"

namespace quorvel {
namespace {

void setOrUnset(const char* name, const std::optional<std::string>& value) {
  if (value) {
    setenv(name, value->c_str(), 1);
  } else {
    unsetenv(name);
  }
}

TEST(SystemHomeDirectory, takes_HOME_else_the_password_database_and_XDG_CONFIG_HOME_when_absolute) {
  std::optional<std::string> savedHome, savedConfig;
  if (const char* value = std::getenv("HOME")) savedHome = value;
  if (const char* value = std::getenv("XDG_CONFIG_HOME")) savedConfig = value;
  std::string database = getpwuid(getuid())->pw_dir;
  while (database.size() > 1 && database.back() == '/') database.pop_back();
  struct Case {
    std::optional<std::string> home, config;
    std::string path, appFolder;
  };
  const Case cases[] = {
      {"/srv/someone/", std::nullopt, "/srv/someone", "/srv/someone/.config/quorvel"},
      {std::nullopt, "", database, database + "/.config/quorvel"},
      {"", "relative/settings", database, database + "/.config/quorvel"},
      {"/home/someone", "/srv/settings/", "/home/someone", "/srv/settings/quorvel"},
  };
  for (const Case& c : cases) {
    setOrUnset("HOME", c.home);
    setOrUnset("XDG_CONFIG_HOME", c.config);
    EXPECT_EQ(SystemHomeDirectory().path(), c.path) << c.home.value_or("(unset)");
    EXPECT_EQ(SystemHomeDirectory().appFolder(), c.appFolder) << c.config.value_or("(unset)");
  }
  EXPECT_EQ(SystemHomeDirectory().legacyAppFolder(),
            "/home/someone/Library/Application Support/Quorvel");
  setOrUnset("HOME", savedHome);
  setOrUnset("XDG_CONFIG_HOME", savedConfig);
}

}  // namespace
}  // namespace quorvel
