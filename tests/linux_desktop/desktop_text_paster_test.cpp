// The Wayland ways of pasting where neither works: no desktop portal on the bus, no wtype on
// the PATH. The clipboard is the test display's; the notification server is the test's own.
#include "platform/linux/desktop/desktop_text_paster.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "linux_desktop/desktop_session.h"

namespace quorvel::testing {
namespace {

using DesktopTextPasterTest = BusPeerTest;

TEST_F(DesktopTextPasterTest, without_a_way_to_type_the_text_stays_copied_and_a_notice_says_so) {
  static const char kXml[] =
      "<node><interface name='org.freedesktop.Notifications'><method name='Notify'>"
      "<arg type='s' direction='in'/><arg type='u' direction='in'/><arg type='s' direction='in'/>"
      "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='as' direction='in'/>"
      "<arg type='a{sv}' direction='in'/><arg type='i' direction='in'/>"
      "<arg type='u' direction='out'/></method></interface></node>";
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
  guint object =
      g_dbus_connection_register_object(peer_, "/org/freedesktop/Notifications",
                                        node->interfaces[0], &table, &notice, nullptr, nullptr);
  bool owned = false;
  guint name = g_bus_own_name_on_connection(
      peer_, "org.freedesktop.Notifications", G_BUS_NAME_OWNER_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, gpointer owned) { *static_cast<bool*>(owned) = true; },
      nullptr, &owned, nullptr);
  ASSERT_TRUE(runUntil([&] { return owned; }));
  const std::string path = g_getenv("PATH");
  g_setenv("PATH", "/nonexistent", TRUE);

  gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), "earlier", -1);
  DesktopTextPaster paster(waylandPasteKeystrokes());
  std::optional<PasteOutcome> outcome;
  paster.paste("go forward ten meters", [&](PasteOutcome o) { outcome = o; });
  EXPECT_TRUE(runUntil([&] { return outcome && notice; }));
  g_setenv("PATH", path.c_str(), TRUE);

  EXPECT_EQ(outcome, PasteOutcome::Copied);
  EXPECT_EQ(notice, "Copied — press Ctrl+V to paste");
  gchar* text = gtk_clipboard_wait_for_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
  EXPECT_STREQ(text, "go forward ten meters");
  g_free(text);
  g_bus_unown_name(name);
  g_dbus_connection_unregister_object(peer_, object);
  g_dbus_node_info_unref(node);
}

}  // namespace
}  // namespace quorvel::testing
