// Which tray item shows, by the session bus and the StatusNotifierWatcher at start and as the
// watcher comes and goes.
#include "platform/linux/desktop/status_item_factory.h"

#include "platform/linux/desktop/desktop_session.h"
#include "platform/linux/desktop/sni_status_item.h"
#include "platform/linux/desktop/xembed_status_item.h"

namespace quorvel::tray {
namespace {

using StatusItemFactoryTest = testing::DesktopTest;

std::string kind(const FollowingStatusItem& item) {
  if (dynamic_cast<SniStatusItem*>(item.current())) return "sni";
  return dynamic_cast<XEmbedStatusItem*>(item.current()) ? "xembed" : "none";
}

// No XEmbed tray runs in the test session, so availability follows the watcher alone. (No item
// at all is the Wayland case, which this X11 session cannot show.)
TEST_F(StatusItemFactoryTest, picks_by_bus_and_watcher_then_follows_it_keeping_tip_and_handlers) {
  testing::TestWatcher watcher;
  const struct {
    bool bus, watcher;
    const char* kind;
  } cases[] = {{false, true, "xembed"}, {true, true, "sni"}, {true, false, "xembed"}};
  for (const auto& c : cases) {
    ASSERT_TRUE(!c.watcher || watcher.start());
    EXPECT_EQ(kind(FollowingStatusItem(c.bus ? bus_ : nullptr)), c.kind) << c.bus << c.watcher;
    watcher.stop();
  }

  std::unique_ptr<FollowingStatusItem> item = makeStatusItem();
  std::vector<bool> available;
  item->setHostAvailabilityHandler([&](bool yes) { available.push_back(yes); });
  int activations = 0;
  item->setActivateHandler([&](ScreenPoint) { ++activations; });
  item->setToolTip("Recording...");
  for (int round = 1; round <= 2; ++round) {
    ASSERT_EQ(kind(*item), "xembed") << round;
    ASSERT_TRUE(watcher.start());
    SniStatusItem* sni = nullptr;
    ASSERT_TRUE(testing::runUntil([&] {
      sni = dynamic_cast<SniStatusItem*>(item->current());
      return sni && sni->registrations() == 1;
    }));
    const std::string service = sni->busName();
    GVariant* tip = testing::getProperty(peer_, service.c_str(), "/StatusNotifierItem",
                                         "org.kde.StatusNotifierItem", "ToolTip");
    ASSERT_TRUE(tip);
    const gchar* title = nullptr;
    g_variant_get_child(tip, 2, "&s", &title);
    EXPECT_STREQ(title, "Recording...");
    g_variant_unref(tip);
    testing::CallResult r;
    testing::call(peer_, service.c_str(), "/StatusNotifierItem", "org.kde.StatusNotifierItem",
                  "Activate", g_variant_new("(ii)", 5, 5), r);
    EXPECT_TRUE(testing::runUntil([&] { return activations == round; }));
    watcher.stop();
    ASSERT_TRUE(testing::runUntil([&] { return kind(*item) == "xembed"; }));
  }
  EXPECT_EQ(available, (std::vector<bool>{false, true, false, true, false}));
}

}  // namespace
}  // namespace quorvel::tray
