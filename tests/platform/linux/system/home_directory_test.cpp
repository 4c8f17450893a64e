#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/home_directory.h"

namespace quorvel {
namespace {

// Changes this test process's environment only.
TEST(SystemHomeDirectory, takes_HOME_else_the_password_database_and_XDG_CONFIG_HOME_when_absolute) {
  const std::string database = getpwuid(getuid())->pw_dir;
  struct Case {
    const char *home, *config, *appFolder;
  };
  const Case cases[] = {
      {"/srv/someone/", nullptr, "/srv/someone/.config/quorvel"},
      {nullptr, "", "/.config/quorvel"},
      {"", "relative/settings", "/.config/quorvel"},
      {"/home/someone", "/srv/settings/", "/srv/settings/quorvel"},
  };
  for (const Case& c : cases) {
    (void)(c.home ? setenv("HOME", c.home, 1) : unsetenv("HOME"));
    (void)(c.config ? setenv("XDG_CONFIG_HOME", c.config, 1) : unsetenv("XDG_CONFIG_HOME"));
    EXPECT_EQ(SystemHomeDirectory().appFolder(), (c.home && *c.home ? "" : database) + c.appFolder)
        << (c.home ? c.home : "(unset)");
  }
}

}  // namespace
}  // namespace quorvel
