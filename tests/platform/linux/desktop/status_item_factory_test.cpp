// Which tray item shows, by the session bus and the StatusNotifierWatcher at start and when a
// watcher appears later.
#include "platform/linux/desktop/status_item_factory.h"

#include "platform/linux/desktop/desktop_session.h"
#include "platform/linux/desktop/sni_status_item.h"
#include "platform/linux/desktop/xembed_status_item.h"

namespace quorvel::tray {
using StatusItemFactoryTest = testing::DesktopTest;

std::string kind(const FollowingStatusItem& item) {
  if (dynamic_cast<SniStatusItem*>(item.current())) return "sni";
  return dynamic_cast<XEmbedStatusItem*>(item.current()) ? "xembed" : "none";
}

// No XEmbed tray runs in the test session, so only a watcher makes a host available. (No item
// at all is the Wayland case, which this X11 session cannot show.)
TEST_F(StatusItemFactoryTest, picks_the_status_notifier_item_while_a_watcher_is_on_the_bus) {
  testing::TestWatcher watcher;
  const struct {
    bool bus, watcher, watcherLater;
    const char* kind;
    bool available;
  } cases[] = {{false, true, false, "xembed", false},
               {true, true, false, "sni", true},
               {true, false, false, "xembed", false},
               {true, false, true, "sni", true}};
  for (const auto& c : cases) {
    ASSERT_TRUE(!c.watcher || watcher.start());
    FollowingStatusItem item(c.bus ? bus_ : nullptr);
    std::optional<bool> available;
    item.setHostAvailabilityHandler([&](bool yes) { available = yes; });
    ASSERT_TRUE(!c.watcherLater || watcher.start());
    EXPECT_TRUE(testing::runUntil([&] { return kind(item) == c.kind; })) << c.bus << c.watcher;
    EXPECT_EQ(available, c.available) << c.bus << c.watcher;
    watcher.stop();
  }
}

}  // namespace quorvel::tray
