// The StatusNotifierItem and its exported menu as a panel sees them: a watcher of the test's own
// on the private session bus, and calls, property reads and signals from another bus peer.
#include "platform/linux/desktop/sni_status_item.h"

#include "platform/linux/desktop/desktop_session.h"

namespace quorvel::tray {
using Rows = std::vector<std::string>;
using SniStatusItemTest = testing::DesktopTest;

TEST_F(SniStatusItemTest, exports_state_pixmap_menu_and_clicks_and_registers_with_each_watcher) {
  testing::TestWatcher watcher;
  ASSERT_TRUE(watcher.start());
  setenv("XDG_CURRENT_DESKTOP", "XFCE", 1);
  g_object_set(gtk_settings_get_default(), "gtk-theme-name", "Adwaita", nullptr);
  SniStatusItem item(bus_, SniStatusItem::Options{true});
  ASSERT_TRUE(testing::runUntil([&] { return item.registrations() == 1; }));
  EXPECT_EQ(watcher.registered(), Rows{item.busName()});
  auto get = [&](const char* name) {
    return testing::getProperty(peer_, item.busName().c_str(), "/StatusNotifierItem",
                                "org.kde.StatusNotifierItem", name);
  };
  // Alpha and red at canvas point (x, y) of the pixmap of scale 1; "uneven" unless every visible
  // pixel has the same red (straight alpha: a one-colour picture has no darker edges).
  auto pixel = [&](int x, int y) {
    GVariant* pixmaps = get("IconPixmap");
    int width = 0, height = 0;
    GVariant* bytes = nullptr;
    g_variant_get_child(pixmaps, 0, "(ii@ay)", &width, &height, &bytes);
    const auto* argb = static_cast<const std::uint8_t*>(g_variant_get_data(bytes));
    const size_t i = (static_cast<size_t>(y) * width + x) * 4;
    std::string out = std::to_string(width) + "x" + std::to_string(height) + " " +
                      std::to_string(argb[i]) + "," + std::to_string(argb[i + 1]);
    for (size_t j = 0; argb[i] != 0 && j < g_variant_get_size(bytes); j += 4) {
      if (argb[j] != 0 && argb[j + 1] != argb[i + 1]) out += " uneven";
    }
    g_variant_unref(bytes);
    g_variant_unref(pixmaps);
    return out;
  };
  Rows signals;
  const guint subscription = g_dbus_connection_signal_subscribe(
      peer_, nullptr, "org.kde.StatusNotifierItem", nullptr, "/StatusNotifierItem", nullptr,
      G_DBUS_SIGNAL_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name, GVariant*,
         gpointer signals) { static_cast<Rows*>(signals)->push_back(name); },
      &signals, nullptr);
  EXPECT_EQ(pixel(20, 4), "28x18 255,0") << "black on a light panel";  // also a round trip
  item.setToolTip("Recording...");
  item.setImage(StatusImage::RecordingBadge);
  EXPECT_TRUE(testing::runUntil([&] { return signals.size() == 2; }));
  EXPECT_EQ(signals, (Rows{"NewToolTip", "NewIcon"}));
  g_dbus_connection_signal_unsubscribe(peer_, subscription);
  EXPECT_EQ(pixel(14, 9), "28x18 255,255") << "the red dot";
  for (const auto& [name, expected] : std::vector<std::pair<const char*, std::string>>{
           {"IconName", "'quorvel-recording'"},
           {"IconThemePath", "'" QUORVEL_SOURCE_DIR "/resources/icons'"},
           {"ToolTip", "('', [], 'Recording...', '')"},
           {"Menu", "'/MenuBar'"}}) {
    GVariant* v = get(name);
    gchar* text = v ? g_variant_print(v, FALSE) : g_strdup("<missing>");
    EXPECT_EQ(text, expected);
    g_free(text);
    if (v) g_variant_unref(v);
  }

  // The menu, with the row that stands for a left click first.
  std::vector<ScreenPoint> clicks;
  item.setActivateHandler([&](ScreenPoint where) { clicks.push_back(where); });
  std::string theme = "light";
  auto choice = [&](const char* value) {
    return MenuItem{MenuItem::Kind::Action,        value, theme == value, "",
                    [&, value] { theme = value; }, {}};
  };
  item.setMenuProvider([&] {
    return MenuModel{
        {MenuItem::Kind::Submenu, "Theme", false, "", {}, {choice("light"), choice("dark")}}};
  });
  const std::string dest = g_dbus_connection_get_unique_name(bus_), menu = "/MenuBar";
  bool ok = false;
  testing::MenuNode root = testing::getMenuLayout(peer_, dest, menu, ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(root.rows(), (Rows{"Open Quorvel", "-", "Theme"}));
  EXPECT_EQ(root.child("Theme")->rows(), (Rows{"light [x]", "dark [ ]"}));
  EXPECT_TRUE(
      testing::sendMenuEvent(peer_, dest, menu, root.child("Theme")->children[1].id, "clicked"));
  ASSERT_TRUE(testing::runUntil([&] { return theme == "dark"; }));
  // The tree is built afresh before it shows.
  theme = "light";
  ASSERT_TRUE(testing::sendAboutToShow(peer_, dest, menu, 0));
  root = testing::getMenuLayout(peer_, dest, menu, ok);
  EXPECT_EQ(root.child("Theme")->rows(), (Rows{"light [x]", "dark [ ]"}));
  EXPECT_TRUE(testing::sendMenuEvent(peer_, dest, menu, root.children[0].id, "clicked"));
  ASSERT_TRUE(testing::runUntil([&] { return clicks.size() == 1; }));
  testing::CallResult r;
  testing::call(peer_, item.busName().c_str(), "/StatusNotifierItem", "org.kde.StatusNotifierItem",
                "Activate", g_variant_new("(ii)", 640, 12), r);
  ASSERT_TRUE(testing::runUntil([&] { return clicks.size() == 2; }));
  EXPECT_EQ(std::make_pair(clicks[1].x, clicks[1].y), std::make_pair(640, 12));

  // The panel restarts: a new watcher takes the name and must learn about the item.
  watcher.stop();
  ASSERT_TRUE(watcher.start());
  EXPECT_TRUE(testing::runUntil([&] { return item.registrations() == 2; }));
  EXPECT_EQ(watcher.registered(), Rows(2, item.busName()));
}

}  // namespace quorvel::tray
