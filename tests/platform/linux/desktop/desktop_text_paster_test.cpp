// The Wayland ways of pasting where neither works: no desktop portal on the bus, no wtype on
// the PATH. The clipboard is the test display's; the notification server is the test's own.
#include "platform/linux/desktop/desktop_text_paster.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/linux/desktop/desktop_session.h"

namespace quorvel::testing {
namespace {

using DesktopTextPasterTest = BusPeerTest;

TEST_F(DesktopTextPasterTest, without_a_way_to_type_the_text_stays_copied_and_a_notice_says_so) {
  static const char kXml[] =
      "<node><interface name='org.freedesktop.Notifications'><method name='Notify'><arg type='s'/>"
      "<arg type='u'/><arg type='s'/><arg type='s'/><arg type='s'/><arg type='as'/><arg "
      "type='a{sv}'/><arg type='i'/><arg type='u' direction='out'/></method></interface></node>";
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kXml, nullptr);
  std::optional<std::string> notice;
  GDBusInterfaceVTable table{};
  table.method_call = [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                         GVariant* parameters, GDBusMethodInvocation* invocation, gpointer seen) {
    const gchar* summary = nullptr;
    g_variant_get_child(parameters, 3, "&s", &summary);
    *static_cast<std::optional<std::string>*>(seen) = summary;
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", 1u));
  };
  g_dbus_connection_register_object(peer_, "/org/freedesktop/Notifications", node->interfaces[0],
                                    &table, &notice, nullptr, nullptr);
  bool owned = false;
  g_bus_own_name_on_connection(
      peer_, "org.freedesktop.Notifications", G_BUS_NAME_OWNER_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, gpointer owned) { *static_cast<bool*>(owned) = true; },
      nullptr, &owned, nullptr);
  ASSERT_TRUE(runUntil([&] { return owned; }));
  g_setenv("PATH", "/nonexistent", TRUE);  // no wtype

  gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), "earlier", -1);
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

}  // namespace
}  // namespace quorvel::testing
