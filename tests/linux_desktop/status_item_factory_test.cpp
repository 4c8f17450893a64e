// Which tray item the factory picks, with and without a StatusNotifierWatcher on the bus.
#include "platform/linux/desktop/status_item_factory.h"

#include <gtest/gtest.h>

#include "linux_desktop/desktop_session.h"
#include "linux_desktop/test_watcher.h"
#include "platform/linux/desktop/sni_status_item.h"
#include "platform/linux/desktop/xembed_status_item.h"

namespace quorvel::tray {
namespace {

using StatusItemFactoryTest = testing::DesktopTest;

TEST_F(StatusItemFactoryTest, without_a_watcher_the_xembed_icon_is_chosen) {
  std::unique_ptr<StatusItem> item = makeStatusItem();
  ASSERT_NE(item, nullptr);
  EXPECT_NE(dynamic_cast<XEmbedStatusItem*>(item.get()), nullptr);
}

TEST_F(StatusItemFactoryTest, with_a_watcher_the_status_notifier_item_is_chosen_and_registers) {
  testing::TestWatcher watcher;
  ASSERT_TRUE(watcher.start());
  std::unique_ptr<StatusItem> item = makeStatusItem();
  auto* sni = dynamic_cast<SniStatusItem*>(item.get());
  ASSERT_NE(sni, nullptr);
  EXPECT_TRUE(testing::runUntil([&] { return watcher.registered().size() == 1; }));
  EXPECT_EQ(watcher.registered().front(), sni->busName());
}

}  // namespace
}  // namespace quorvel::tray
