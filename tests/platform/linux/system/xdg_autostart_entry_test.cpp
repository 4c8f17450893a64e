#include "platform/linux/system/xdg_autostart_entry.h"

#include <gtest/gtest.h>

#include "fakes/temp_home.h"

namespace quorvel {
namespace {

TEST(XdgAutostartEntry, writes_the_program_as_one_exec_argument_or_refuses_it) {
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"/usr/bin/quorvel", "Exec=/usr/bin/quorvel\n"},
      {"/opt/my apps/quorvel", "Exec=\"/opt/my apps/quorvel\"\n"},
      {"/opt/a\"b$c/quorvel", "Exec=\"/opt/a\\\\\"b\\\\$c/quorvel\"\n"},
      {"/opt/100%/quorvel", "Exec=/opt/100%%/quorvel\n"},
      {"/opt/back\\slash/quorvel", "Exec=\"/opt/back\\\\\\\\slash/quorvel\"\n"},
      {"bin/quorvel", std::nullopt},
      {"/opt/line\nbreak/quorvel", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [program, exec] : cases) {
    auto text = XdgAutostartEntry::entryText(program);
    ASSERT_EQ(text.has_value(), exec.has_value()) << program;
    EXPECT_NE(text.value_or("\n!").find("\n" + exec.value_or("!")), std::string::npos);
  }
}

TEST(XdgAutostartEntry, is_enabled_exactly_while_its_file_exists) {
  testing::TempHome home;
  XdgAutostartEntry entry(home, localFileSystem(), "/opt/my apps/quorvel");
  const std::string path = home.path() + "/.config/autostart/quorvel.desktop";
  EXPECT_FALSE(entry.isEnabled());
  ASSERT_TRUE(entry.setEnabled(true) && entry.isEnabled() && entry.setEnabled(true));
  EXPECT_EQ(testing::readBytes(path), XdgAutostartEntry::entryText("/opt/my apps/quorvel"));
  EXPECT_EQ(home.mode(path), 0644u);
  ASSERT_TRUE(entry.setEnabled(false) && entry.setEnabled(false));
  EXPECT_FALSE(entry.isEnabled() || testing::readBytes(path));
  XdgAutostartEntry unwritable(home, localFileSystem(), "relative/quorvel");
  EXPECT_FALSE(unwritable.setEnabled(true) || unwritable.isEnabled());
}

}  // namespace
}  // namespace quorvel
