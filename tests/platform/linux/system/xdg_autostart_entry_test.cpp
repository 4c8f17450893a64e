#include "platform/linux/system/xdg_autostart_entry.h"

#include <gtest/gtest.h>

#include "fakes/temp_home.h"

namespace quorvel {
namespace {

TEST(XdgAutostartEntry, is_enabled_only_for_a_program_it_can_write_as_one_exec_argument) {
  const std::pair<std::string, std::string> cases[] = {
      {"/usr/bin/quorvel", "Exec=/usr/bin/quorvel\n"},
      // Quoted for the space; the quote, dollar and backslash escaped inside the quotes; then
      // every backslash and percent sign doubled for the desktop entry's string.
      {"/opt/my a\"b$c\\d 100%/quorvel",
       "Exec=\"/opt/my a\\\\\"b\\\\$c\\\\\\\\d 100%%/quorvel\"\n"},
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
    EXPECT_TRUE(entry.setEnabled(false) && !entry.isEnabled() && !testing::readBytes(path));
  }
}

}  // namespace
}  // namespace quorvel
