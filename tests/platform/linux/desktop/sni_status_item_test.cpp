// The StatusNotifierItem as a panel sees it: a watcher of the test's own on the private session
// bus, and calls and property reads from another bus peer.
#include "platform/linux/desktop/sni_status_item.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/linux/desktop/dbusmenu_layout.h"
#include "platform/linux/desktop/desktop_session.h"
#include "platform/linux/desktop/test_watcher.h"

namespace quorvel::tray {
namespace {

struct Pixel {
  int a, r, g, b;
};

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> argb;
  Pixel at(int x, int y) const {
    const size_t i = (static_cast<size_t>(y) * width + x) * 4;
    return {argb[i], argb[i + 1], argb[i + 2], argb[i + 3]};
  }
};

class SniStatusItemTest : public testing::BusPeerTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(BusPeerTest::SetUp());
    ASSERT_TRUE(watcher_.start());
  }
  void TearDown() override {
    watcher_.stop();
    BusPeerTest::TearDown();
  }

  std::unique_ptr<SniStatusItem> registeredItem(SniStatusItem::Options options = {}) {
    auto item = std::make_unique<SniStatusItem>(bus_, options);
    EXPECT_TRUE(testing::runUntil([&] { return item->registrations() == 1; }));
    return item;
  }

  GVariant* property(const SniStatusItem& item, const char* name) {
    return testing::getProperty(peer_, item.busName().c_str(), "/StatusNotifierItem",
                                "org.kde.StatusNotifierItem", name);
  }
  std::string stringProperty(const SniStatusItem& item, const char* name) {
    GVariant* v = property(item, name);
    if (v == nullptr) return "<missing>";
    std::string s = g_variant_is_of_type(v, G_VARIANT_TYPE_STRING) ||
                            g_variant_is_of_type(v, G_VARIANT_TYPE_OBJECT_PATH)
                        ? g_variant_get_string(v, nullptr)
                        : "<not a string>";
    g_variant_unref(v);
    return s;
  }
  std::vector<Picture> pixmaps(const SniStatusItem& item) {
    std::vector<Picture> out;
    GVariant* v = property(item, "IconPixmap");
    if (v == nullptr) return out;
    for (gsize i = 0; i < g_variant_n_children(v); ++i) {
      Picture p;
      GVariant* bytes = nullptr;
      g_variant_get_child(v, i, "(ii@ay)", &p.width, &p.height, &bytes);
      gsize n = 0;
      const auto* raw = static_cast<const std::uint8_t*>(g_variant_get_fixed_array(bytes, &n, 1));
      p.argb.assign(raw, raw + n);
      g_variant_unref(bytes);
      out.push_back(p);
    }
    g_variant_unref(v);
    return out;
  }
  bool itemCall(const SniStatusItem& item, const char* method, GVariant* params) {
    testing::CallResult r;
    testing::call(peer_, item.busName().c_str(), "/StatusNotifierItem",
                  "org.kde.StatusNotifierItem", method, params, r);
    return r.reply != nullptr;
  }
  // Counts a signal of the item's interface as a panel would receive it. The subscription
  // reaches the bus as a message of its own; the round trip after it makes sure the bus has
  // taken it before anything is emitted.
  guint countSignal(const char* name, int* counter) {
    const guint id = g_dbus_connection_signal_subscribe(
        peer_, nullptr, "org.kde.StatusNotifierItem", name, "/StatusNotifierItem", nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
           gpointer c) { ++*static_cast<int*>(c); },
        counter, nullptr);
    testing::CallResult r;
    testing::call(peer_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                  "GetId", nullptr, r);
    EXPECT_NE(r.reply, nullptr) << r.error;
    return id;
  }

  testing::TestWatcher watcher_;
};

TEST_F(SniStatusItemTest, registers_its_bus_name_and_registers_again_when_the_watcher_returns) {
  auto item = registeredItem();
  const std::string expected = "org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-";
  ASSERT_EQ(watcher_.registered().size(), 1u);
  EXPECT_EQ(watcher_.registered()[0], item->busName());
  EXPECT_EQ(item->busName().rfind(expected, 0), 0u) << item->busName();

  // The panel restarts: a new watcher takes the name and must learn about the item.
  watcher_.stop();
  ASSERT_TRUE(watcher_.start());
  ASSERT_TRUE(testing::runUntil([&] { return item->registrations() == 2; }));
  EXPECT_EQ(watcher_.registered().back(), item->busName());
}

TEST_F(SniStatusItemTest, exports_its_fixed_properties_and_the_current_tool_tip) {
  auto item = registeredItem();
  EXPECT_EQ(stringProperty(*item, "Id"), "quorvel");
  EXPECT_EQ(stringProperty(*item, "Title"), "Quorvel");
  EXPECT_EQ(stringProperty(*item, "Category"), "ApplicationStatus");
  EXPECT_EQ(stringProperty(*item, "Status"), "Active");
  EXPECT_EQ(stringProperty(*item, "IconName"), "quorvel-symbolic");
  // The icon theme folder of this uninstalled build: the sources' icons.
  EXPECT_EQ(stringProperty(*item, "IconThemePath"), QUORVEL_SOURCE_DIR "/resources/icons");
  EXPECT_EQ(stringProperty(*item, "Menu"), "/MenuBar");
  GVariant* isMenu = property(*item, "ItemIsMenu");
  ASSERT_NE(isMenu, nullptr);
  EXPECT_FALSE(g_variant_get_boolean(isMenu));
  g_variant_unref(isMenu);

  int newToolTips = 0;
  const guint sub = countSignal("NewToolTip", &newToolTips);
  item->setToolTip("Recording...");
  ASSERT_TRUE(testing::runUntil([&] { return newToolTips == 1; }));
  g_dbus_connection_signal_unsubscribe(peer_, sub);
  GVariant* tip = property(*item, "ToolTip");
  ASSERT_NE(tip, nullptr);
  ASSERT_STREQ(g_variant_get_type_string(tip), "(sa(iiay)ss)");
  const gchar* title = nullptr;
  g_variant_get_child(tip, 2, "&s", &title);
  EXPECT_STREQ(title, "Recording...");
  g_variant_unref(tip);
}

TEST_F(SniStatusItemTest, badge_is_a_red_dot_at_both_scales_and_the_icon_comes_back) {
  auto item = registeredItem();
  int newIcons = 0;
  const guint sub = countSignal("NewIcon", &newIcons);
  item->setImage(StatusImage::RecordingBadge);
  ASSERT_TRUE(testing::runUntil([&] { return newIcons == 1; }));

  const std::vector<Picture> badge = pixmaps(*item);
  ASSERT_EQ(badge.size(), 2u);
  for (int scale : {1, 2}) {
    const Picture& p = badge[scale - 1];
    ASSERT_EQ(p.width, 28 * scale);
    ASSERT_EQ(p.height, 18 * scale);
    ASSERT_EQ(p.argb.size(), static_cast<size_t>(p.width * p.height * 4));
    for (auto [x, y] : {std::pair{14, 9}, {10, 9}, {18, 9}, {14, 5}, {14, 13}}) {
      const Pixel px = p.at(x * scale, y * scale);
      EXPECT_EQ(px.a, 255) << x << "," << y << " at scale " << scale;
      EXPECT_EQ(px.r, 255);
      EXPECT_EQ(px.g, 0);
      EXPECT_EQ(px.b, 0);
    }
    for (auto [x, y] : {std::pair{0, 0}, {27, 17}, {3, 9}, {24, 9}, {14, 1}}) {
      EXPECT_EQ(p.at(x * scale, y * scale).a, 0) << x << "," << y << " at scale " << scale;
    }
  }

  item->setImage(StatusImage::MenuBarIcon);
  ASSERT_TRUE(testing::runUntil([&] { return newIcons == 2; }));
  g_dbus_connection_signal_unsubscribe(peer_, sub);
  const std::vector<Picture> icon = pixmaps(*item);
  ASSERT_EQ(icon.size(), 2u);
  const Picture& p = icon[0];
  int micPixels = 0;
  for (int y = 2; y < 16; ++y) {
    for (int x = 1; x < 14; ++x) micPixels += p.at(x, y).a > 200;
  }
  EXPECT_GT(micPixels, 20) << "the microphone is missing";
  EXPECT_EQ(p.at(20, 4).a, 255) << "top line";
  EXPECT_EQ(p.at(20, 13).a, 255) << "bottom line";
  EXPECT_EQ(p.at(25, 13).a, 0) << "the bottom line is the shortest";
  EXPECT_FALSE(p.at(20, 4).r == 255 && p.at(20, 4).g == 0) << "the icon is not drawn red";
}

TEST_F(SniStatusItemTest, a_dark_theme_redraws_the_icon_light_and_announces_it) {
  setenv("XDG_CURRENT_DESKTOP", "XFCE", 1);
  GtkSettings* settings = gtk_settings_get_default();
  g_object_set(settings, "gtk-theme-name", "Adwaita", "gtk-application-prefer-dark-theme", FALSE,
               nullptr);
  auto item = registeredItem();
  EXPECT_EQ(pixmaps(*item)[0].at(20, 4).r, 0) << "black on a light panel";

  int newIcons = 0;
  const guint sub = countSignal("NewIcon", &newIcons);
  g_object_set(settings, "gtk-theme-name", "Adwaita-dark", nullptr);
  EXPECT_TRUE(testing::runUntil([&] { return newIcons == 1; }));
  g_dbus_connection_signal_unsubscribe(peer_, sub);
  const Pixel line = pixmaps(*item)[0].at(20, 4);
  EXPECT_EQ(line.a, 255);
  EXPECT_EQ(line.r, 255) << "light on a dark panel";
  g_object_set(settings, "gtk-theme-name", "Adwaita", nullptr);
}

TEST_F(SniStatusItemTest, activate_hands_the_hosts_coordinates_to_the_handler) {
  auto item = registeredItem();
  std::vector<std::pair<int, int>> clicks;
  item->setActivateHandler([&](ScreenPoint where) { clicks.emplace_back(where.x, where.y); });
  ASSERT_TRUE(itemCall(*item, "Activate", g_variant_new("(ii)", 640, 12)));
  ASSERT_TRUE(testing::runUntil([&] { return clicks.size() == 1; }));
  EXPECT_EQ(clicks[0], std::make_pair(640, 12));
  ASSERT_TRUE(item->anchor().has_value());
  EXPECT_EQ(item->anchor()->x, 640);

  // A middle click does the same; a scroll does nothing.
  ASSERT_TRUE(itemCall(*item, "SecondaryActivate", g_variant_new("(ii)", 700, 20)));
  ASSERT_TRUE(itemCall(*item, "Scroll", g_variant_new("(is)", 120, "vertical")));
  ASSERT_TRUE(testing::runUntil([&] { return clicks.size() == 2; }));
  testing::drainMainLoop();
  EXPECT_EQ(clicks.size(), 2u);
  EXPECT_EQ(clicks[1], std::make_pair(700, 20));
}

TEST_F(SniStatusItemTest, context_menu_pops_up_the_providers_menu_at_the_point) {
  auto item = registeredItem();
  int providerCalls = 0;
  item->setMenuProvider([&] {
    ++providerCalls;
    return MenuModel{
        MenuItem{MenuItem::Kind::Action, "About Quorvel v1.1.0", false, "", [] {}, {}}};
  });
  const int before = providerCalls;
  ASSERT_TRUE(itemCall(*item, "ContextMenu", g_variant_new("(ii)", 300, 40)));
  GtkWidget* shown = nullptr;
  ASSERT_TRUE(testing::runUntil([&] {
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* l = toplevels; l; l = l->next) {
      GtkWidget* child = gtk_bin_get_child(GTK_BIN(l->data));
      if (gtk_widget_get_mapped(GTK_WIDGET(l->data)) && child && GTK_IS_MENU(child)) {
        shown = child;
      }
    }
    g_list_free(toplevels);
    return shown != nullptr;
  }));
  EXPECT_EQ(providerCalls, before + 1) << "the menu is built fresh for the click";
  GList* rows = gtk_container_get_children(GTK_CONTAINER(shown));
  ASSERT_EQ(g_list_length(rows), 1u);
  EXPECT_STREQ(gtk_menu_item_get_label(GTK_MENU_ITEM(rows->data)), "About Quorvel v1.1.0");
  g_list_free(rows);
  gtk_menu_shell_deactivate(GTK_MENU_SHELL(shown));
}

TEST_F(SniStatusItemTest, open_row_leads_the_exported_menu_and_acts_as_a_left_click) {
  auto item = registeredItem(SniStatusItem::Options{true});
  int activations = 0;
  item->setActivateHandler([&](ScreenPoint) { ++activations; });
  item->setMenuProvider([] {
    return MenuModel{
        MenuItem{MenuItem::Kind::Action, "Quit Quorvel", false, "<Control>q", [] {}, {}}};
  });
  bool ok = false;
  const testing::MenuNode root =
      testing::getMenuLayout(peer_, g_dbus_connection_get_unique_name(bus_), "/MenuBar", ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(root.labels(), (std::vector<std::string>{"Open Quorvel", "-", "Quit Quorvel"}));
  ASSERT_TRUE(testing::sendMenuEvent(peer_, g_dbus_connection_get_unique_name(bus_), "/MenuBar",
                                     root.children[0].id, "clicked"));
  EXPECT_TRUE(testing::runUntil([&] { return activations == 1; }));
}

TEST_F(SniStatusItemTest, the_open_row_is_absent_unless_asked_for) {
  auto item = registeredItem(SniStatusItem::Options{false});
  item->setMenuProvider([] {
    return MenuModel{MenuItem{MenuItem::Kind::Action, "Quit Quorvel", false, "", [] {}, {}}};
  });
  bool ok = false;
  const testing::MenuNode root =
      testing::getMenuLayout(peer_, g_dbus_connection_get_unique_name(bus_), "/MenuBar", ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(root.labels(), (std::vector<std::string>{"Quit Quorvel"}));
}

}  // namespace
}  // namespace quorvel::tray
