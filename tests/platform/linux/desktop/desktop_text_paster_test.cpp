// The Wayland ways of pasting where neither works: no desktop portal on the bus, no wtype on
// the PATH. The clipboard is the test display's; the notification server is the test's own.
#include "platform/linux/desktop/desktop_text_paster.h"

#include <optional>
#include <string>

#include "platform/linux/desktop/desktop_session.h"

namespace quorvel::testing {
using DesktopTextPasterTest = DesktopTest;

TEST_F(DesktopTextPasterTest, without_a_way_to_type_the_text_stays_copied_and_a_notice_says_so) {
  std::optional<std::string> notice;
  OwnedName notifications(
      "org.freedesktop.Notifications", 10.0, "/org/freedesktop/Notifications",
      "<node><interface name='org.freedesktop.Notifications'><method name='Notify'>"
      "<arg type='s'/><arg type='u'/><arg type='s'/><arg type='s'/><arg type='s'/>"
      "<arg type='as'/><arg type='a{sv}'/><arg type='i'/><arg type='u' direction='out'/>"
      "</method></interface></node>",
      [&](const gchar*, GVariant* params) {
        const gchar* summary = nullptr;
        g_variant_get_child(params, 3, "&s", &summary);
        notice = summary;
        return g_variant_new("(u)", 1u);
      });
  ASSERT_TRUE(notifications.held());
  g_setenv("PATH", "/nonexistent", TRUE);  // no wtype

  DesktopTextPaster paster(waylandPasteKeystrokes());
  std::optional<PasteOutcome> outcome;
  paster.paste("go forward ten meters", nullptr, [&](PasteOutcome o) { outcome = o; });
  EXPECT_TRUE(runUntil([&] { return outcome && notice; }));

  EXPECT_EQ(outcome, PasteOutcome::Copied);
  EXPECT_EQ(notice, "Copied — press Ctrl+V to paste");
  gchar* text = gtk_clipboard_wait_for_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
  EXPECT_STREQ(text, "go forward ten meters");
  g_free(text);
}

}  // namespace quorvel::testing
