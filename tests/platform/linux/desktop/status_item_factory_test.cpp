// Which tray item shows, as a StatusNotifierWatcher comes and goes after start.
#include "platform/linux/desktop/status_item_factory.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/linux/desktop/desktop_session.h"
#include "platform/linux/desktop/test_watcher.h"
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

// No tray of either kind runs in the test session, so availability follows the watcher alone.
TEST_F(StatusItemFactoryTest, follows_the_watcher_both_ways_and_keeps_picture_tip_and_handlers) {
  std::unique_ptr<FollowingStatusItem> item = makeStatusItem();
  ASSERT_TRUE(isXEmbed(*item));
  std::vector<bool> available;
  item->setHostAvailabilityHandler([&](bool yes) { available.push_back(yes); });
  int activations = 0;
  item->setActivateHandler([&](ScreenPoint) { ++activations; });
  item->setImage(StatusImage::RecordingBadge);
  item->setToolTip("Recording...");

  testing::TestWatcher watcher;
  for (int round = 1; round <= 2; ++round) {
    ASSERT_TRUE(watcher.start());
    ASSERT_TRUE(testing::runUntil([&] { return isSni(*item); })) << round;
    auto* sni = dynamic_cast<SniStatusItem*>(item->current());
    EXPECT_TRUE(testing::runUntil([&] { return sni->registrations() == 1; }));
    GDBusConnection* panel = watcher.connection();
    const char* name = sni->busName().c_str();
    GVariant* iconName = testing::getProperty(panel, name, "/StatusNotifierItem",
                                              "org.kde.StatusNotifierItem", "IconName");
    ASSERT_NE(iconName, nullptr);
    EXPECT_STREQ(g_variant_get_string(iconName, nullptr), "quorvel-recording");
    g_variant_unref(iconName);
    GVariant* tip = testing::getProperty(panel, name, "/StatusNotifierItem",
                                         "org.kde.StatusNotifierItem", "ToolTip");
    ASSERT_NE(tip, nullptr);
    const gchar* title = nullptr;
    g_variant_get_child(tip, 2, "&s", &title);
    EXPECT_STREQ(title, "Recording...");
    g_variant_unref(tip);
    testing::CallResult r;
    testing::call(panel, name, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate",
                  g_variant_new("(ii)", 5, 5), r);
    EXPECT_TRUE(testing::runUntil([&] { return activations == round; }));

    watcher.stop();
    ASSERT_TRUE(testing::runUntil([&] { return isXEmbed(*item); })) << round;
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gchar* xembedTip = gtk_status_icon_get_tooltip_text(
        static_cast<XEmbedStatusItem*>(item->current())->gtkStatusIcon());
    G_GNUC_END_IGNORE_DEPRECATIONS
    EXPECT_STREQ(xembedTip, "Recording...");
    g_free(xembedTip);
  }
  EXPECT_EQ(available, (std::vector<bool>{false, true, false, true, false}));
}

}  // namespace
}  // namespace quorvel::tray
