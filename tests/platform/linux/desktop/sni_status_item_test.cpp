// The StatusNotifierItem as a panel sees it: a watcher of the test's own on the private session
// bus, and calls, property reads and signals from another bus peer.
#include "platform/linux/desktop/sni_status_item.h"

#include "platform/linux/desktop/desktop_session.h"

namespace quorvel::tray {
namespace {

class SniStatusItemTest : public testing::BusPeerTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(BusPeerTest::SetUp());
    ASSERT_TRUE(watcher_.start());
  }
  std::unique_ptr<SniStatusItem> registeredItem(std::optional<bool> openRow = false) {
    auto item = std::make_unique<SniStatusItem>(bus_, SniStatusItem::Options{openRow});
    EXPECT_TRUE(testing::runUntil([&] { return item->registrations() == 1; }));
    return item;
  }
  // A property as text: strings and paths as they are, anything else printed.
  std::string property(const SniStatusItem& item, const char* name) {
    GVariant* v = testing::getProperty(peer_, item.busName().c_str(), "/StatusNotifierItem",
                                       "org.kde.StatusNotifierItem", name);
    if (v == nullptr) return "<missing>";
    gchar* text = g_variant_is_of_type(v, G_VARIANT_TYPE_STRING) ||
                          g_variant_is_of_type(v, G_VARIANT_TYPE_OBJECT_PATH)
                      ? g_variant_dup_string(v, nullptr)
                      : g_variant_print(v, FALSE);
    std::string out = text;
    g_free(text);
    g_variant_unref(v);
    return out;
  }
  // The (alpha, red) bytes of the pixmap of this scale at canvas point (x, y).
  std::pair<int, int> pixel(const SniStatusItem& item, int scale, int x, int y) {
    GVariant* v = testing::getProperty(peer_, item.busName().c_str(), "/StatusNotifierItem",
                                       "org.kde.StatusNotifierItem", "IconPixmap");
    int width = 0, height = 0;
    GVariant* bytes = nullptr;
    g_variant_get_child(v, scale - 1, "(ii@ay)", &width, &height, &bytes);
    EXPECT_EQ(std::make_pair(width, height), std::make_pair(28 * scale, 18 * scale));
    const auto* argb = static_cast<const std::uint8_t*>(g_variant_get_data(bytes));
    const size_t i = (static_cast<size_t>(y * scale) * width + x * scale) * 4;
    const std::pair<int, int> out{argb[i], argb[i + 1]};
    g_variant_unref(bytes);
    g_variant_unref(v);
    return out;
  }
  bool itemCall(const SniStatusItem& item, const char* method, GVariant* params) {
    testing::CallResult r;
    testing::call(peer_, item.busName().c_str(), "/StatusNotifierItem",
                  "org.kde.StatusNotifierItem", method, params, r);
    return r.reply != nullptr;
  }
  // Counts the item's signals as a panel receives them. The round trip after subscribing makes
  // sure the bus has taken the subscription before anything is emitted.
  void TearDown() override {
    if (subscription_) g_dbus_connection_signal_unsubscribe(peer_, subscription_);
    BusPeerTest::TearDown();
  }
  void countSignals() {
    subscription_ = g_dbus_connection_signal_subscribe(
        peer_, nullptr, "org.kde.StatusNotifierItem", nullptr, "/StatusNotifierItem", nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name, GVariant*,
           gpointer signals) { static_cast<std::vector<std::string>*>(signals)->push_back(name); },
        &signals_, nullptr);
    testing::CallResult r;
    testing::call(peer_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                  "GetId", nullptr, r);
  }

  testing::TestWatcher watcher_;
  std::vector<std::string> signals_;
  guint subscription_ = 0;
};

TEST_F(SniStatusItemTest, registers_its_name_again_when_the_watcher_returns_and_exports_its_state) {
  auto item = registeredItem();
  EXPECT_EQ(watcher_.registered(), std::vector<std::string>{item->busName()});
  EXPECT_EQ(item->busName().rfind("org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-"),
            0u);
  const std::pair<const char*, std::string> properties[] = {
      {"Id", "quorvel"},
      {"Title", "Quorvel"},
      {"Category", "ApplicationStatus"},
      {"Status", "Active"},
      {"IconName", "quorvel-symbolic"},
      {"Menu", "/MenuBar"},
      {"IconThemePath", QUORVEL_SOURCE_DIR "/resources/icons"},
      {"ItemIsMenu", "false"}};
  for (const auto& [name, expected] : properties) EXPECT_EQ(property(*item, name), expected);
  countSignals();
  item->setToolTip("Recording...");
  item->setImage(StatusImage::RecordingBadge);
  ASSERT_TRUE(testing::runUntil([&] { return signals_.size() == 2; }));
  EXPECT_EQ(signals_, (std::vector<std::string>{"NewToolTip", "NewIcon"}));
  EXPECT_EQ(property(*item, "ToolTip"), "('', [], 'Recording...', '')");
  for (int scale : {1, 2}) {
    EXPECT_EQ(pixel(*item, scale, 14, 9), std::make_pair(255, 255)) << "the red dot";
    EXPECT_EQ(pixel(*item, scale, 3, 9).first, 0);
  }
  // The panel restarts: a new watcher takes the name and must learn about the item.
  watcher_.stop();
  ASSERT_TRUE(watcher_.start());
  EXPECT_TRUE(testing::runUntil([&] { return item->registrations() == 2; }));
  EXPECT_EQ(watcher_.registered(), std::vector<std::string>(2, item->busName()));
}

TEST_F(SniStatusItemTest, a_dark_theme_redraws_the_icon_light_and_announces_it) {
  setenv("XDG_CURRENT_DESKTOP", "XFCE", 1);
  GtkSettings* settings = gtk_settings_get_default();
  g_object_set(settings, "gtk-theme-name", "Adwaita", "gtk-application-prefer-dark-theme", FALSE,
               nullptr);
  auto item = registeredItem();
  EXPECT_EQ(pixel(*item, 1, 20, 4), std::make_pair(255, 0)) << "black on a light panel";
  countSignals();
  g_object_set(settings, "gtk-theme-name", "Adwaita-dark", nullptr);
  EXPECT_TRUE(testing::runUntil([&] { return signals_ == std::vector<std::string>{"NewIcon"}; }));
  EXPECT_EQ(pixel(*item, 1, 20, 4), std::make_pair(255, 255)) << "light on a dark panel";
  g_object_set(settings, "gtk-theme-name", "Adwaita", nullptr);
}

TEST_F(SniStatusItemTest, clicks_reach_the_handler_with_the_hosts_point_and_scrolls_do_nothing) {
  auto item = registeredItem();
  std::vector<std::pair<int, int>> clicks;
  item->setActivateHandler([&](ScreenPoint where) { clicks.emplace_back(where.x, where.y); });
  ASSERT_TRUE(itemCall(*item, "Activate", g_variant_new("(ii)", 640, 12)));
  ASSERT_TRUE(itemCall(*item, "Scroll", g_variant_new("(is)", 120, "vertical")));
  ASSERT_TRUE(itemCall(*item, "SecondaryActivate", g_variant_new("(ii)", 700, 20)));
  ASSERT_TRUE(testing::runUntil([&] { return clicks.size() == 2; }));
  testing::drainMainLoop();
  EXPECT_EQ(clicks, (std::vector<std::pair<int, int>>{{640, 12}, {700, 20}}));
  EXPECT_EQ(item->anchor()->x, 700);
}

TEST_F(SniStatusItemTest, context_menu_pops_up_a_fresh_menu_from_the_provider) {
  auto item = registeredItem();
  int built = 0;
  item->setMenuProvider([&] {
    ++built;
    return MenuModel{
        MenuItem{MenuItem::Kind::Action, "About Quorvel v1.1.0", false, "", [] {}, {}}};
  });
  const int before = built;
  ASSERT_TRUE(itemCall(*item, "ContextMenu", g_variant_new("(ii)", 300, 40)));
  GtkWidget* shown = nullptr;
  ASSERT_TRUE(testing::runUntil([&] {
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* l = toplevels; l; l = l->next) {
      GtkWidget* child = gtk_bin_get_child(GTK_BIN(l->data));
      if (gtk_widget_get_mapped(GTK_WIDGET(l->data)) && child && GTK_IS_MENU(child)) shown = child;
    }
    g_list_free(toplevels);
    return shown != nullptr;
  }));
  EXPECT_EQ(built, before + 1);
  GList* rows = gtk_container_get_children(GTK_CONTAINER(shown));
  ASSERT_EQ(g_list_length(rows), 1u);
  EXPECT_STREQ(gtk_menu_item_get_label(GTK_MENU_ITEM(rows->data)), "About Quorvel v1.1.0");
  g_list_free(rows);
  gtk_menu_shell_deactivate(GTK_MENU_SHELL(shown));
}

TEST_F(SniStatusItemTest, an_open_row_asked_for_leads_the_exported_menu_and_acts_as_a_left_click) {
  for (bool openRow : {true, false}) {
    auto item = registeredItem(openRow);
    int activations = 0;
    item->setActivateHandler([&](ScreenPoint) { ++activations; });
    item->setMenuProvider([] {
      return MenuModel{MenuItem{MenuItem::Kind::Action, "Quit Quorvel", false, "", [] {}, {}}};
    });
    bool ok = false;
    const std::string dest = g_dbus_connection_get_unique_name(bus_);
    const testing::MenuNode root = testing::getMenuLayout(peer_, dest, "/MenuBar", ok);
    ASSERT_TRUE(ok);
    if (!openRow) {
      EXPECT_EQ(root.labels(), std::vector<std::string>{"Quit Quorvel"});
      continue;
    }
    EXPECT_EQ(root.labels(), (std::vector<std::string>{"Open Quorvel", "-", "Quit Quorvel"}));
    ASSERT_TRUE(testing::sendMenuEvent(peer_, dest, "/MenuBar", root.children[0].id, "clicked"));
    EXPECT_TRUE(testing::runUntil([&] { return activations == 1; }));
  }
}

}  // namespace
}  // namespace quorvel::tray
