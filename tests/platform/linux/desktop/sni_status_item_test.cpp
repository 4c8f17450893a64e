// The StatusNotifierItem and its exported menu as a panel sees them: a watcher of the test's own
// on the private session bus, and calls, property reads and signals from another bus peer.
#include "platform/linux/desktop/sni_status_item.h"

#include "platform/linux/desktop/desktop_session.h"

namespace quorvel::tray {
namespace {

using Rows = std::vector<std::string>;

class SniStatusItemTest : public testing::DesktopTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(DesktopTest::SetUp());
    ASSERT_TRUE(watcher_.start());
  }
  // The item once registered; its signals are counted as a panel receives them from then on (the
  // round trip after subscribing makes sure the bus has taken the subscription).
  std::unique_ptr<SniStatusItem> registeredItem(bool openRow) {
    auto item = std::make_unique<SniStatusItem>(bus_, SniStatusItem::Options{openRow});
    EXPECT_TRUE(testing::runUntil([&] { return item->registrations() == 1; }));
    subscription_ = g_dbus_connection_signal_subscribe(
        peer_, nullptr, "org.kde.StatusNotifierItem", nullptr, "/StatusNotifierItem", nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name, GVariant*,
           gpointer signals) { static_cast<Rows*>(signals)->push_back(name); },
        &signals_, nullptr);
    property(*item, "Id");
    return item;
  }
  void TearDown() override {
    if (subscription_) g_dbus_connection_signal_unsubscribe(peer_, subscription_);
    DesktopTest::TearDown();
  }
  // A property as GVariant text, or for x >= 0
  // the IconPixmap of scale 1 as "width x height alpha,red" at canvas point (x, y).
  std::string property(const SniStatusItem& item, const char* name, int x = -1, int y = 0) {
    GVariant* v = testing::getProperty(peer_, item.busName().c_str(), "/StatusNotifierItem",
                                       "org.kde.StatusNotifierItem", name);
    if (v == nullptr) return "<missing>";
    if (x < 0) {
      gchar* text = g_variant_print(v, FALSE);
      const std::string out = text;
      g_free(text);
      g_variant_unref(v);
      return out;
    }
    int width = 0, height = 0;
    GVariant* bytes = nullptr;
    g_variant_get_child(v, 0, "(ii@ay)", &width, &height, &bytes);
    const auto* argb = static_cast<const std::uint8_t*>(g_variant_get_data(bytes));
    const size_t i = (static_cast<size_t>(y) * width + x) * 4;
    std::string out = std::to_string(width) + "x" + std::to_string(height) + " " +
                      std::to_string(argb[i]) + "," + std::to_string(argb[i + 1]);
    // Straight alpha: every visible pixel of the one-colour picture has the red of this one.
    for (size_t j = 0; argb[i] != 0 && j < g_variant_get_size(bytes); j += 4) {
      if (argb[j] != 0 && argb[j + 1] != argb[i + 1]) out += " uneven red";
    }
    g_variant_unref(bytes);
    g_variant_unref(v);
    return out;
  }

  testing::TestWatcher watcher_;
  Rows signals_;
  guint subscription_ = 0;
};

TEST_F(SniStatusItemTest, exports_state_menu_and_clicks_and_registers_again_with_a_new_watcher) {
  auto item = registeredItem(true);
  EXPECT_EQ(watcher_.registered(), Rows{item->busName()});
  std::vector<ScreenPoint> clicks;
  item->setActivateHandler([&](ScreenPoint where) { clicks.push_back(where); });
  std::string theme = "light";
  auto choice = [&](const char* title, const char* value) {
    return MenuItem{MenuItem::Kind::Action,        title, theme == value, "",
                    [&, value] { theme = value; }, {}};
  };
  item->setMenuProvider([&] {
    return MenuModel{MenuItem{MenuItem::Kind::Submenu,
                              "Theme",
                              false,
                              "",
                              {},
                              {choice("Light", "light"), choice("Dark", "dark")}},
                     MenuItem{MenuItem::Kind::Action, "Quit Quorvel", false, "", [] {}, {}}};
  });
  item->setToolTip("Recording...");
  item->setImage(StatusImage::RecordingBadge);
  ASSERT_TRUE(testing::runUntil([&] { return signals_.size() == 2; }));
  EXPECT_EQ(signals_, (Rows{"NewToolTip", "NewIcon"}));
  const std::pair<const char*, std::string> properties[] = {
      {"IconName", "'quorvel-recording'"},
      {"IconThemePath", "'" QUORVEL_SOURCE_DIR "/resources/icons'"},
      {"ToolTip", "('', [], 'Recording...', '')"},
      {"Menu", "'/MenuBar'"}};
  for (const auto& [name, expected] : properties) EXPECT_EQ(property(*item, name), expected);
  EXPECT_EQ(property(*item, "IconPixmap", 14, 9), "28x18 255,255") << "the red dot";
  EXPECT_EQ(property(*item, "IconPixmap", 3, 9), "28x18 0,0");

  // The menu at the path the item names, with the row that stands for a left click first.
  const std::string dest = g_dbus_connection_get_unique_name(bus_);
  const std::string menu = "/MenuBar";
  bool ok = false;
  testing::MenuNode root = testing::getMenuLayout(peer_, dest, menu, ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(root.rows(), (Rows{"Open Quorvel", "-", "Theme", "Quit Quorvel"}));
  EXPECT_EQ(root.child("Theme")->rows(), (Rows{"Light [x]", "Dark [ ]"}));
  EXPECT_TRUE(
      testing::sendMenuEvent(peer_, dest, menu, root.child("Theme")->children[1].id, "clicked"));
  ASSERT_TRUE(testing::runUntil([&] { return theme == "dark"; }));
  // The tree is rebuilt after the action without the panel asking, and again before it shows.
  EXPECT_TRUE(testing::runUntil([&] {
    return testing::getMenuLayout(peer_, dest, menu, ok).child("Theme")->rows() ==
           Rows{"Light [ ]", "Dark [x]"};
  }));
  theme = "light";
  ASSERT_TRUE(testing::sendAboutToShow(peer_, dest, menu, 0));
  root = testing::getMenuLayout(peer_, dest, menu, ok);
  EXPECT_EQ(root.child("Theme")->rows(), (Rows{"Light [x]", "Dark [ ]"}));
  EXPECT_TRUE(testing::sendMenuEvent(peer_, dest, menu, root.children[0].id, "clicked"));
  ASSERT_TRUE(testing::runUntil([&] { return clicks.size() == 1; }));

  testing::CallResult r;
  testing::call(peer_, item->busName().c_str(), "/StatusNotifierItem", "org.kde.StatusNotifierItem",
                "Activate", g_variant_new("(ii)", 640, 12), r);
  ASSERT_TRUE(testing::runUntil([&] { return clicks.size() == 2; }));
  EXPECT_EQ(std::make_pair(clicks[1].x, clicks[1].y), std::make_pair(640, 12));
  EXPECT_EQ(item->anchor()->x, 640);

  // The panel restarts: a new watcher takes the name and must learn about the item.
  watcher_.stop();
  ASSERT_TRUE(watcher_.start());
  EXPECT_TRUE(testing::runUntil([&] { return item->registrations() == 2; }));
  EXPECT_EQ(watcher_.registered(), Rows(2, item->busName()));
}

// Black on a light panel, light on GNOME's and a dark theme's, redrawn as the theme changes.
TEST_F(SniStatusItemTest, draws_the_icon_in_the_panels_foreground_and_announces_a_redraw) {
  GtkSettings* settings = gtk_settings_get_default();
  const struct {
    const char* desktop;
    const char* theme;
    gboolean preferDark;
    const char* pixel;  // (alpha, red) of the top line
  } cases[] = {{"XFCE", "Adwaita", FALSE, "28x18 255,0"},
               {"XFCE", "Adwaita-dark", FALSE, "28x18 255,255"},
               {"XFCE", "Adwaita", TRUE, "28x18 255,255"},
               {"XFCE", "Adwaita", FALSE, "28x18 255,0"},
               {"ubuntu:GNOME", "HighContrast", FALSE, "28x18 255,255"}};
  std::unique_ptr<SniStatusItem> item;
  for (const auto& c : cases) {
    setenv("XDG_CURRENT_DESKTOP", c.desktop, 1);
    g_object_set(settings, "gtk-theme-name", c.theme, "gtk-application-prefer-dark-theme",
                 c.preferDark, nullptr);
    if (!item) item = registeredItem(false);
    EXPECT_TRUE(testing::runUntil([&] { return property(*item, "IconPixmap", 20, 4) == c.pixel; }))
        << c.desktop << " " << c.theme << " " << c.preferDark;
  }
  EXPECT_GE(signals_.size(), 3u);
  EXPECT_EQ(signals_, Rows(signals_.size(), "NewIcon"));
  g_object_set(settings, "gtk-theme-name", "Adwaita", "gtk-application-prefer-dark-theme", FALSE,
               nullptr);
}

}  // namespace
}  // namespace quorvel::tray
