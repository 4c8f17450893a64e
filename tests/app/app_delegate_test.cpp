#include "app/app_delegate.h"

#include <gtest/gtest.h>

#include "fakes/fake_http_client.h"
#include "fakes/fake_main_queue.h"
#include "fakes/fake_shell.h"
#include "fakes/fake_web_view.h"
#include "fakes/recording_console.h"
#include "fakes/temp_home.h"
#include "web/page_calls.h"

namespace quorvel {
namespace {

using Lines = std::vector<std::string>;

// A page host that keeps the recorder's state in plain fields.
class FakePageHost final : public PageHost {
 public:
  void loadView() override { view = std::make_shared<testing::FakeWebView>(); }
  std::shared_ptr<WebView> webView() const override { return view; }
  bool hasRecorder() const override { return view != nullptr; }
  bool isRecording() const override { return false; }
  void setSpeechLocale(const std::string& identifier) override { locales.push_back(identifier); }
  void toggleRecordingFromHotkey() override { toggleSawPopover.push_back(popoverShown()); }
  std::string storedSpeechLocale() const override { return stored; }
  void applyTheme(const std::string& theme) override { themes.push_back(theme); }
  void refreshUsage() override { ++usageRefreshes; }

  std::shared_ptr<testing::FakeWebView> view;
  std::string stored = "en-US";
  Lines locales, themes;
  std::vector<bool> toggleSawPopover;  // one entry per toggle: was the popover shown
  int usageRefreshes = 0;
  std::function<bool()> popoverShown;
};

class AppDelegateTest : public ::testing::Test {
 protected:
  std::shared_ptr<AppDelegate> launch(bool tray = true, bool settle = true) {
    auto delegate = std::make_shared<AppDelegate>(AppDelegateServices{
        .makeStatusItem = [this, tray]() -> std::shared_ptr<StatusItem> {
          item_ = std::make_shared<testing::FakeStatusItem>();
          item_->hostAvailable = tray;
          return item_;
        },
        .makePageHost =
            [this](std::weak_ptr<AppControllerPort> controller) {
              controllerSeen_ = controller;
              page_ = std::make_shared<FakePageHost>();
              page_->popoverShown = [this] { return popover_->shown; };
              return page_;
            },
        .makePopover = [this] { return popover_ = std::make_shared<testing::FakePopover>(); },
        .clickMonitor = &clicks_,
        .hotKey = hotKey_,
        .application = application_,
        .mainQueue = queue_,
        .console = console_,
        .polisher = polisher_,
        .loginItem = loginItem_,
    });
    delegate->applicationDidFinishLaunching();
    if (settle) queue_.advance(kPageSetUpDelaySeconds);
    return delegate;
  }
  void pressF6() {
    hotKey_.press();
    queue_.runUntilIdle();
  }
  const MenuItem& row(const MenuModel& menu, const std::string& title) {
    for (const auto& item : menu) {
      if (item.title == title) return item;
    }
    throw std::runtime_error("no menu row " + title);
  }
  static Lines checked(const MenuModel& menu) {
    Lines out;
    for (const auto& item : menu) {
      if (item.checked) out.push_back(item.title);
      for (const auto& inner : checked(item.submenu)) out.push_back(inner);
    }
    return out;
  }

  testing::TempHome home_;
  testing::FakeHttpClient http_;
  testing::RecordingConsole console_;
  DeepSeekPolisher polisher_{home_, localFileSystem(), http_, console_};
  testing::FakeClickMonitor clicks_;
  testing::FakeHotKey hotKey_;
  testing::FakeApplication application_;
  testing::FakeMainQueue queue_;
  testing::FakeLoginItem loginItem_;
  std::shared_ptr<testing::FakeStatusItem> item_;
  std::shared_ptr<FakePageHost> page_;
  std::shared_ptr<testing::FakePopover> popover_;
  std::weak_ptr<AppControllerPort> controllerSeen_;
};

TEST_F(AppDelegateTest, launch_shows_the_icon_grabs_f6_and_builds_the_page_a_moment_later) {
  auto delegate = std::make_shared<AppDelegate>(
      AppDelegateServices{[] { return nullptr; }, nullptr, nullptr, &clicks_, hotKey_, application_,
                          queue_, console_, polisher_, loginItem_});
  delegate->handleHotkeyAction();  // before launch: nothing to touch, nothing breaks
  delegate->togglePopover();
  delegate->showStatusBarBadge(true);

  delegate = launch(true, false);
  EXPECT_EQ(page_, nullptr);
  queue_.advance(kPageSetUpDelaySeconds);
  EXPECT_EQ(item_->image, StatusImage::MenuBarIcon);
  EXPECT_FALSE(item_->toolTip.has_value());
  EXPECT_EQ(popover_->size, std::make_pair(440, 420));
  EXPECT_FALSE(popover_->shown);
  EXPECT_FALSE(popover_->closesOnFocusLoss);  // the click monitor closes it
  EXPECT_EQ(hotKey_.key, "F6");
  EXPECT_EQ(console_.lines(), Lines{"[Hotkey] F6 global hotkey registered"});
  EXPECT_EQ(popover_->content, page_->view);
  EXPECT_EQ(controllerSeen_.lock(), delegate);
}

TEST_F(AppDelegateTest, a_refused_f6_is_reported_and_without_a_click_monitor_focus_loss_closes) {
  hotKey_.status = -9878;
  clicks_.available = false;
  auto delegate = launch();
  EXPECT_EQ(console_.lines(), Lines{"[Hotkey] Failed to register F6 hotkey: -9878"});
  EXPECT_TRUE(popover_->closesOnFocusLoss);
}

TEST_F(AppDelegateTest, without_a_tray_the_page_is_a_window_until_a_tray_comes_and_after_it_goes) {
  auto delegate = launch(false);
  EXPECT_TRUE(popover_->window && popover_->shown && application_.windowed);
  EXPECT_FALSE(popover_->anchor.has_value());
  EXPECT_EQ(console_.lines(), (Lines{kNoTrayLine, "[Hotkey] F6 global hotkey registered"}));
  clicks_.click();
  popover_->loseFocus();
  EXPECT_TRUE(popover_->shown);  // a window stays open
  popover_->close();
  delegate->reopen();
  EXPECT_TRUE(popover_->shown);
  popover_->close();
  pressF6();
  EXPECT_TRUE(popover_->shown);
  EXPECT_EQ(page_->toggleSawPopover.size(), 1u);

  // A panel appears: the window gives way to the tray item, whose click opens the popover.
  item_->setHostAvailable(true);
  EXPECT_FALSE(popover_->shown || popover_->window || application_.windowed);
  delegate->reopen();
  EXPECT_FALSE(popover_->shown);
  item_->leftClick();
  EXPECT_TRUE(popover_->shown);
  ASSERT_TRUE(popover_->anchor.has_value());

  // It goes: the window is back at once, with the line saying how to get it again.
  item_->setHostAvailable(false);
  EXPECT_TRUE(popover_->window && popover_->shown && application_.windowed);
  EXPECT_EQ(console_.lines().back(), kNoTrayLine);
}

TEST_F(AppDelegateTest, tray_clicks_toggle_the_popover_at_the_item_and_refresh_usage_on_show) {
  auto delegate = launch();
  delegate->reopen();  // a later start leaves the tray popover alone
  EXPECT_FALSE(popover_->shown);
  item_->leftClick();
  ASSERT_TRUE(popover_->shown);
  EXPECT_EQ(popover_->anchor->x, 600);
  item_->leftClick();
  EXPECT_FALSE(popover_->shown);
  item_->leftClick();
  delegate->showPopover();  // already open: nothing changes
  EXPECT_EQ(popover_->shows, 2);
  EXPECT_EQ(page_->usageRefreshes, 2);
  queue_.advance(kSameClickWindowSeconds);  // a later click elsewhere closes it
  clicks_.click();
  EXPECT_FALSE(popover_->shown);
}

TEST_F(AppDelegateTest, the_tray_click_that_closed_the_popover_does_not_reopen_it) {
  // Closed by the click monitor (X11), or by focus loss where clicks cannot be watched.
  for (bool monitor : {true, false}) {
    SCOPED_TRACE(monitor ? "click monitor" : "focus loss");
    clicks_.available = monitor;
    auto delegate = launch();
    auto clickElsewhere = [&] { monitor ? clicks_.click() : popover_->loseFocus(); };
    item_->leftClick();
    clickElsewhere();    // the press on the panel's item
    item_->leftClick();  // the same click's release, as an activation
    EXPECT_FALSE(popover_->shown);
    item_->leftClick();  // a new click opens it again
    EXPECT_TRUE(popover_->shown);
    if (monitor) {
      clicks_.click();  // ...and its press, seen only after the activation
      EXPECT_TRUE(popover_->shown);
    }
    queue_.advance(kSameClickWindowSeconds);
    clickElsewhere();
    queue_.advance(kSameClickWindowSeconds);
    item_->leftClick();  // long after the outside click: an ordinary click
    EXPECT_TRUE(popover_->shown);
    popover_->close();
    clickElsewhere();  // nothing was open, so nothing to remember
    item_->leftClick();
    EXPECT_TRUE(popover_->shown);
  }
}

// The page may ignore the toggle (it is busy processing): only the recording controller, which
// knows whether capture started, shows the badge.
TEST_F(AppDelegateTest, f6_opens_the_popover_before_toggling_never_closes_it_nor_sets_the_badge) {
  auto delegate = launch();
  hotKey_.press();
  EXPECT_TRUE(page_->toggleSawPopover.empty()) << "presses are handled on the main queue";
  queue_.runUntilIdle();
  pressF6();
  pressF6();
  EXPECT_EQ(page_->toggleSawPopover, (std::vector<bool>{true, true, true}));
  EXPECT_EQ(popover_->shows, 1);
  EXPECT_EQ(item_->image, StatusImage::MenuBarIcon);
  EXPECT_FALSE(item_->toolTip.has_value());
}

TEST_F(AppDelegateTest, menu_rows_follow_the_stored_choices_at_every_build) {
  home_.put("config.json", R"({"theme": "dark"})");
  auto delegate = launch();
  MenuModel menu = item_->rightClick();
  Lines titles;
  for (const auto& item : menu) titles.push_back(item.title);
  EXPECT_EQ(titles, (Lines{"Language", "Theme", "Start at Login", "Paste into Active App", "",
                           "About Quorvel v1.1.0", "", "Quit Quorvel"}));
  EXPECT_EQ(menu[0].submenu.size(), 17u);
  EXPECT_TRUE(menu[2].checkable && menu[3].checkable);
  EXPECT_EQ(menu[7].accelerator, "<Control>q");
  const std::pair<std::string, Lines> cases[] = {
      {R"({"theme": "dark"})", {"粵語 (Cantonese)", "Dark"}},
      {R"({"theme": 7})", {"粵語 (Cantonese)", "Light"}},
      {R"({"theme": "sepia"})", {"粵語 (Cantonese)"}},
  };
  page_->stored = "zh-HK";
  for (const auto& [config, expected] : cases) {
    home_.put("config.json", config);
    EXPECT_EQ(checked(item_->rightClick()), expected) << config;
  }
  page_->stored = "xx-YY";
  EXPECT_EQ(checked(item_->rightClick()), Lines{});
}

TEST_F(AppDelegateTest, language_and_theme_rows_reach_the_page_and_keep_other_config_keys) {
  home_.put("config.json", R"({"deepseek_api_key": "sk-1", "theme": 3})");
  auto delegate = launch();
  for (const char* title : {"中文 (Chinese)", "日本語 (Japanese)", "English", "粵語 (Cantonese)"}) {
    row(item_->rightClick()[0].submenu, title).action();
  }
  EXPECT_EQ(page_->locales, (Lines{"zh-Hans", "ja-JP", "en-US", "zh-HK"}));
  EXPECT_EQ(page_->view->scripts, (Lines{page::setLanguage("zh"), page::setLanguage("en")}));
  row(item_->rightClick()[1].submenu, "Dark").action();
  EXPECT_EQ(nlohmann::json::parse(*home_.get("config.json")),
            nlohmann::json::parse(R"({"deepseek_api_key": "sk-1", "theme": "dark"})"));
  row(item_->rightClick()[1].submenu, "Light").action();
  EXPECT_EQ(page_->themes, (Lines{"dark", "light"}));
}

TEST_F(AppDelegateTest, start_at_login_about_and_quit_rows) {
  auto delegate = launch();
  console_.clear();
  auto login = [this] { return row(item_->rightClick(), "Start at Login"); };
  MenuItem stale = login();
  stale.action();
  EXPECT_TRUE(loginItem_.enabled && login().checked);
  // Changed outside the program after the menu was built: the stored state decides.
  loginItem_.enabled = false;
  stale.action();
  EXPECT_TRUE(loginItem_.enabled);
  loginItem_.refuse = true;
  login().action();
  EXPECT_TRUE(login().checked);
  EXPECT_EQ(console_.lines(), Lines{"[Quorvel] Could not stop Quorvel from starting at login"});

  MenuModel menu = item_->rightClick();
  menu[5].action();
  EXPECT_EQ(application_.alerts, Lines{"Quorvel|" + std::string(kAboutBody) + "|OK"});
  delegate.reset();
  menu[7].action();  // the controller is gone: nothing happens
  EXPECT_EQ(application_.quits, 0);
  auto again = launch();
  item_->rightClick()[7].action();
  EXPECT_EQ(application_.quits, 1);
}

TEST_F(AppDelegateTest, paste_row_stores_a_boolean_beside_the_other_keys) {
  home_.put("config.json", R"({"theme": "dark", "paste_into_active_app": "yes"})");
  auto delegate = launch();
  for (bool on : {false, true, false}) {
    MenuItem paste = row(item_->rightClick(), "Paste into Active App");
    EXPECT_EQ(paste.checked, on);
    paste.action();
    EXPECT_EQ(nlohmann::json::parse(*home_.get("config.json")),
              (nlohmann::json{{"theme", "dark"}, {"paste_into_active_app", !on}}));
  }
}

TEST_F(AppDelegateTest, the_recording_side_sets_badge_and_tool_tip_through_the_port) {
  auto delegate = launch();
  AppControllerPort& port = *delegate;
  port.setStatusToolTip("Recording...");
  port.showStatusBarBadge(true);
  port.showStatusBarBadge(true);
  EXPECT_EQ(item_->image, StatusImage::RecordingBadge);
  EXPECT_TRUE(popover_->badge);  // for the window, where there is no tray
  port.showStatusBarBadge(false);
  EXPECT_EQ(item_->image, StatusImage::MenuBarIcon);
  EXPECT_FALSE(popover_->badge);
  EXPECT_EQ(item_->toolTip, "Recording...");
  port.showPopover();
  port.closePopover();
  EXPECT_FALSE(port.isPopoverShown());
}

}  // namespace
}  // namespace quorvel
