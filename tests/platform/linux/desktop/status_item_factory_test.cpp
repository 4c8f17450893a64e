// Which tray item shows, by the session bus and the StatusNotifierWatcher at start and as the
// watcher comes and goes.
#include "platform/linux/desktop/status_item_factory.h"

#include "platform/linux/desktop/desktop_session.h"
#include "platform/linux/desktop/sni_status_item.h"
#include "platform/linux/desktop/xembed_status_item.h"

namespace quorvel::tray {
namespace {

using StatusItemFactoryTest = testing::DesktopTest;

bool isSni(const FollowingStatusItem& item) {
  return dynamic_cast<SniStatusItem*>(item.current()) != nullptr;
}
bool isXEmbed(const FollowingStatusItem& item) {
  return dynamic_cast<XEmbedStatusItem*>(item.current()) != nullptr;
}

// No XEmbed tray runs in the test session, so availability follows the watcher alone. (No item
// at all is the Wayland case, which this X11 session cannot show.)
TEST_F(StatusItemFactoryTest, picks_by_bus_and_watcher_then_follows_it_keeping_tip_and_handlers) {
  testing::TestWatcher watcher;
  const struct {
    bool bus, watcher, sni;
  } cases[] = {{false, true, false}, {true, true, true}, {true, false, false}};
  for (const auto& c : cases) {
    ASSERT_TRUE(!c.watcher || watcher.start());
    FollowingStatusItem item(c.bus ? bus_ : nullptr);
    EXPECT_EQ(isSni(item), c.sni) << c.bus << c.watcher;
    EXPECT_EQ(isXEmbed(item), !c.sni) << c.bus << c.watcher;
    watcher.stop();
  }

  std::unique_ptr<FollowingStatusItem> item = makeStatusItem();
  std::vector<bool> available;
  item->setHostAvailabilityHandler([&](bool yes) { available.push_back(yes); });
  int activations = 0;
  item->setActivateHandler([&](ScreenPoint) { ++activations; });
  item->setToolTip("Recording...");
  for (int round = 1; round <= 2; ++round) {
    ASSERT_TRUE(isXEmbed(*item)) << round;
    ASSERT_TRUE(watcher.start());
    ASSERT_TRUE(testing::runUntil([&] {
      return isSni(*item) && static_cast<SniStatusItem*>(item->current())->registrations() == 1;
    }));
    const std::string service = static_cast<SniStatusItem*>(item->current())->busName();
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
    ASSERT_TRUE(testing::runUntil([&] { return isXEmbed(*item); }));
  }
  EXPECT_EQ(available, (std::vector<bool>{false, true, false, true, false}));
}

}  // namespace
}  // namespace quorvel::tray
