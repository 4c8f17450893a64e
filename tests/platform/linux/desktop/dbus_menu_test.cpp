// The exported tray menu as a panel sees it: read with GetLayout from another bus peer, and
// clicked with Event.
#include "platform/linux/desktop/dbus_menu.h"

#include "platform/linux/desktop/desktop_session.h"

namespace quorvel::tray {
namespace {

class DbusMenuTest : public testing::BusPeerTest {
 protected:
  // A menu of the usual shape: choices with check marks, commands without.
  MenuModel model() {
    auto choice = [this](const char* title, std::string* field, const char* value) {
      return MenuItem{MenuItem::Kind::Action,
                      title,
                      *field == value,
                      "",
                      [field, value] { *field = value; },
                      {}};
    };
    return {
        MenuItem{MenuItem::Kind::Submenu,
                 "Language",
                 false,
                 "",
                 {},
                 {choice("中文 (Chinese)", &language, "zh"), choice("English", &language, "en")}},
        MenuItem{MenuItem::Kind::Submenu,
                 "Theme",
                 false,
                 "",
                 {},
                 {choice("Light", &theme, "light"), choice("Dark", &theme, "dark")}},
        MenuItem{MenuItem::Kind::Separator, "", false, "", {}, {}},
        MenuItem{
            MenuItem::Kind::Action, "Quit Quorvel", false, "<Control>q", [this] { ++quits; }, {}}};
  }
  testing::MenuNode layout() {
    bool ok = false;
    const testing::MenuNode root =
        testing::getMenuLayout(peer_, g_dbus_connection_get_unique_name(bus_), "/MenuBar", ok);
    EXPECT_TRUE(ok) << "the menu is not on the bus";
    return root;
  }
  bool click(int id) {
    return testing::sendMenuEvent(peer_, g_dbus_connection_get_unique_name(bus_), "/MenuBar", id,
                                  "clicked");
  }
  std::vector<int> checks(const testing::MenuNode& submenu) {
    std::vector<int> out;
    for (const auto& row : submenu.children) out.push_back(row.toggleState);
    return out;
  }

  std::string language = "en", theme = "light";
  int quits = 0;
};

TEST_F(DbusMenuTest, exports_the_rows_with_check_marks_and_shortcut_and_follows_clicks) {
  DbusMenu menu("/MenuBar");
  menu.setProvider([this] { return model(); });
  const testing::MenuNode root = layout();
  EXPECT_EQ(root.labels(), (std::vector<std::string>{"Language", "Theme", "-", "Quit Quorvel"}));
  EXPECT_EQ(root.child("Language")->labels(),
            (std::vector<std::string>{"中文 (Chinese)", "English"}));
  EXPECT_EQ(root.child("Language")->children[0].toggleType, "checkmark");
  EXPECT_EQ(checks(*root.child("Language")), (std::vector<int>{0, 1}));
  EXPECT_EQ(root.child("Quit Quorvel")->toggleType, "") << "a command shows no check box";
  EXPECT_EQ(root.child("Quit Quorvel")->shortcut, "Control+q");

  ASSERT_TRUE(click(root.child("Theme")->child("Dark")->id));
  ASSERT_TRUE(testing::runUntil([&] { return theme == "dark"; }));
  // The tree is rebuilt after the action without the panel asking.
  EXPECT_TRUE(testing::runUntil([&] {
    return checks(*layout().child("Theme")) == std::vector<int>{0, 1};
  }));
  ASSERT_TRUE(click(layout().child("Quit Quorvel")->id));
  ASSERT_TRUE(testing::runUntil([&] { return quits > 0; }));
  testing::drainMainLoop();
  EXPECT_EQ(quits, 1);

  language = "zh";  // changed elsewhere, e.g. by the page: the next showing asks again
  ASSERT_TRUE(
      testing::sendAboutToShow(peer_, g_dbus_connection_get_unique_name(bus_), "/MenuBar", 0));
  EXPECT_EQ(checks(*layout().child("Language")), (std::vector<int>{1, 0}));
}

}  // namespace
}  // namespace quorvel::tray
