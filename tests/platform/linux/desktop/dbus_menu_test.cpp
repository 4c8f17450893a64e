// The exported tray menu as a panel sees it: read with GetLayout from another bus peer, and
// clicked with Event.
#include "platform/linux/desktop/dbus_menu.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/linux/desktop/dbusmenu_layout.h"
#include "platform/linux/desktop/desktop_session.h"

namespace quorvel::tray {
namespace {

using testing::MenuNode;

class DbusMenuTest : public testing::BusPeerTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(BusPeerTest::SetUp());
    dest_ = g_dbus_connection_get_unique_name(bus_);
  }

  // A menu of the usual shape: choices with check marks, commands without.
  MenuModel model() {
    MenuItem english{MenuItem::Kind::Action,      "English", language == "en", "",
                     [this] {
                       language = "en"; }, {}};
    MenuItem chinese{MenuItem::Kind::Action,
                     "中文 (Chinese)",
                     language == "zh",
                     "",
                     [this] {
                       language = "zh"; },
                     {}};
    MenuItem light{MenuItem::Kind::Action,      "Light", theme == "light", "",
                   [this] {
                     theme = "light"; }, {}};
    MenuItem dark{MenuItem::Kind::Action,     "Dark", theme == "dark", "",
                  [this] { theme = "dark"; }, {}};
    MenuItem quit{MenuItem::Kind::Action, "Quit Quorvel",      false,
                  "<Control>q",           [this] {
                    ++quits; }, {}};
    return {MenuItem{MenuItem::Kind::Submenu, "Language", false, "", {}, {chinese, english}},
            MenuItem{MenuItem::Kind::Submenu, "Theme", false, "", {}, {light, dark}},
            MenuItem{MenuItem::Kind::Separator, "", false, "", {}, {}}, quit};
  }

  MenuNode layout() {
    bool ok = false;
    MenuNode root = testing::getMenuLayout(peer_, dest_, "/MenuBar", ok);
    EXPECT_TRUE(ok) << "the menu is not on the bus";
    return root;
  }

  std::string dest_;
  std::string language = "en";
  std::string theme = "light";
  int quits = 0;
};

TEST_F(DbusMenuTest, exports_labels_submenus_check_marks_and_the_shortcut) {
  DbusMenu menu("/MenuBar");
  menu.setProvider([this] { return model(); });
  const MenuNode root = layout();
  EXPECT_EQ(root.labels(), (std::vector<std::string>{"Language", "Theme", "-", "Quit Quorvel"}));

  const MenuNode* languages = root.child("Language");
  ASSERT_NE(languages, nullptr);
  EXPECT_EQ(languages->childrenDisplay, "submenu");
  EXPECT_EQ(languages->labels(), (std::vector<std::string>{"中文 (Chinese)", "English"}));
  EXPECT_EQ(languages->children[0].toggleType, "checkmark");
  EXPECT_EQ(languages->children[0].toggleState, 0);
  EXPECT_EQ(languages->children[1].toggleState, 1);

  const MenuNode* quit = root.child("Quit Quorvel");
  ASSERT_NE(quit, nullptr);
  EXPECT_EQ(quit->toggleType, "") << "a command shows no check box";
  EXPECT_EQ(quit->shortcut, (std::vector<std::vector<std::string>>{{"Control", "q"}}));
}

TEST_F(DbusMenuTest, a_click_runs_the_action_once_and_the_check_marks_follow) {
  DbusMenu menu("/MenuBar");
  menu.setProvider([this] { return model(); });
  const MenuNode before = layout();
  const MenuNode* dark = before.child("Theme")->child("Dark");
  ASSERT_NE(dark, nullptr);
  EXPECT_EQ(dark->toggleState, 0);

  ASSERT_TRUE(testing::sendMenuEvent(peer_, dest_, "/MenuBar", dark->id, "clicked"));
  ASSERT_TRUE(testing::runUntil([&] { return theme == "dark"; }));

  // The tree is rebuilt after the action without the panel asking.
  ASSERT_TRUE(testing::runUntil([&] {
    const MenuNode after = layout();
    const MenuNode* t = after.child("Theme");
    return t && t->child("Dark") && t->child("Dark")->toggleState == 1 &&
           t->child("Light")->toggleState == 0;
  }));

  const MenuNode now = layout();
  ASSERT_TRUE(
      testing::sendMenuEvent(peer_, dest_, "/MenuBar", now.child("Quit Quorvel")->id, "clicked"));
  ASSERT_TRUE(testing::runUntil([&] { return quits > 0; }));
  testing::drainMainLoop();
  EXPECT_EQ(quits, 1);
}

TEST_F(DbusMenuTest, about_to_show_asks_the_provider_again) {
  DbusMenu menu("/MenuBar");
  menu.setProvider([this] { return model(); });
  EXPECT_EQ(layout().child("Language")->child("English")->toggleState, 1);

  language = "zh";  // changed elsewhere, e.g. by the page
  ASSERT_TRUE(testing::sendAboutToShow(peer_, dest_, "/MenuBar", 0));
  const MenuNode root = layout();
  EXPECT_EQ(root.child("Language")->child("English")->toggleState, 0);
  EXPECT_EQ(root.child("Language")->child("中文 (Chinese)")->toggleState, 1);
}

}  // namespace
}  // namespace quorvel::tray
