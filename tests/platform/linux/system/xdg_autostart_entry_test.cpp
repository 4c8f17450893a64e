#include "platform/linux/system/xdg_autostart_entry.h"

#include <gtest/gtest.h>

#include "fakes/temp_home.h"

namespace quorvel {
namespace {

TEST(XdgAutostartEntry, is_enabled_only_for_a_program_it_can_write_as_one_exec_argument) {
  const std::pair<std::string, std::string> cases[] = {
      {"/usr/bin/quorvel", "Exec=/usr/bin/quorvel\n"},
      {"/opt/my apps/quorvel", "Exec=\"/opt/my apps/quorvel\"\n"},
      {"/opt/a\"b$c/quorvel", "Exec=\"/opt/a\\\\\"b\\\\$c/quorvel\"\n"},
      {"/opt/100%/quorvel", "Exec=/opt/100%%/quorvel\n"},
      {"/opt/back\\slash/quorvel", "Exec=\"/opt/back\\\\\\\\slash/quorvel\"\n"},
      {"bin/quorvel", "(none)"},
      {"/opt/line\nbreak/quorvel", "(none)"},
  };
  for (const auto& [program, exec] : cases) {
    testing::TempHome home;
    XdgAutostartEntry entry(home, localFileSystem(), program);
    const std::string path = home.path() + "/.config/autostart/quorvel.desktop";
    EXPECT_EQ(entry.setEnabled(true) && entry.isEnabled(), exec != "(none)") << program;
    std::string text = testing::readBytes(path).value_or("\n(none)");
    EXPECT_NE(text.find("\n" + exec), std::string::npos) << text;
    EXPECT_TRUE(exec == "(none)" || home.mode(path) == 0644u);
    EXPECT_TRUE(entry.setEnabled(false));
    EXPECT_FALSE(entry.isEnabled() || testing::readBytes(path)) << program;
  }
}

}  // namespace
}  // namespace quorvel
