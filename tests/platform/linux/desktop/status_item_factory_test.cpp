// Which tray item shows, as a StatusNotifierWatcher comes and goes after start.
#include "platform/linux/desktop/status_item_factory.h"

#include "platform/linux/desktop/desktop_session.h"
#include "platform/linux/desktop/sni_status_item.h"
#include "platform/linux/desktop/xembed_status_item.h"

namespace quorvel::tray {
namespace {

using StatusItemFactoryTest = testing::DesktopTest;

// No tray of either kind runs in the test session, so availability follows the watcher alone.
TEST_F(StatusItemFactoryTest, follows_the_watcher_both_ways_and_keeps_picture_tip_and_handlers) {
  std::unique_ptr<FollowingStatusItem> item = makeStatusItem();
  std::vector<bool> available;
  item->setHostAvailabilityHandler([&](bool yes) { available.push_back(yes); });
  int activations = 0;
  item->setActivateHandler([&](ScreenPoint) { ++activations; });
  item->setImage(StatusImage::RecordingBadge);
  item->setToolTip("Recording...");
  testing::TestWatcher watcher;
  for (int round = 1; round <= 2; ++round) {
    ASSERT_TRUE(dynamic_cast<XEmbedStatusItem*>(item->current())) << round;
    ASSERT_TRUE(watcher.start());
    SniStatusItem* sni = nullptr;
    ASSERT_TRUE(testing::runUntil([&] {
      sni = dynamic_cast<SniStatusItem*>(item->current());
      return sni && sni->registrations() == 1;
    }));
    for (const auto& [name, expected] : {std::pair{"IconName", "'quorvel-recording'"},
                                         {"ToolTip", "('', [], 'Recording...', '')"}}) {
      GVariant* v = testing::getProperty(watcher.connection(), sni->busName().c_str(),
                                         "/StatusNotifierItem", "org.kde.StatusNotifierItem", name);
      gchar* text = v ? g_variant_print(v, FALSE) : g_strdup("<missing>");
      EXPECT_STREQ(text, expected);
      g_free(text);
      if (v) g_variant_unref(v);
    }
    testing::CallResult r;
    testing::call(watcher.connection(), sni->busName().c_str(), "/StatusNotifierItem",
                  "org.kde.StatusNotifierItem", "Activate", g_variant_new("(ii)", 5, 5), r);
    EXPECT_TRUE(testing::runUntil([&] { return activations == round; }));
    watcher.stop();
    ASSERT_TRUE(
        testing::runUntil([&] { return dynamic_cast<XEmbedStatusItem*>(item->current()); }));
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gchar* tip = gtk_status_icon_get_tooltip_text(
        static_cast<XEmbedStatusItem*>(item->current())->gtkStatusIcon());
    G_GNUC_END_IGNORE_DEPRECATIONS
    EXPECT_STREQ(tip, "Recording...");
    g_free(tip);
  }
  EXPECT_EQ(available, (std::vector<bool>{false, true, false, true, false}));
}

}  // namespace
}  // namespace quorvel::tray
