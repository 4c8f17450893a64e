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

using testing::EventLog;
using testing::FakeApplication;
using testing::FakeClickMonitor;
using testing::FakeHotKey;
using testing::FakeLoginItem;
using testing::FakeMainQueue;
using testing::FakePopover;
using testing::FakeStatusItem;
using testing::FakeWebView;

// A page host that keeps the recorder's state in plain fields.
class FakePageHost final : public PageHost {
 public:
  explicit FakePageHost(EventLog* log) : log_(log) {}
  void loadView() override {
    testing::note(log_, "page.load");
    view = std::make_shared<FakeWebView>();
    built = true;
  }
  std::shared_ptr<WebView> webView() const override { return view; }
  bool hasRecorder() const override { return built; }
  bool isRecording() const override { return recording; }
  void setSpeechLocale(const std::string& identifier) override { locales.push_back(identifier); }
  void toggleRecordingFromHotkey() override {
    ++toggles;
    popoverShownAtToggle = popoverShown ? popoverShown() : false;
  }
  std::string storedSpeechLocale() const override { return stored; }
  void applyTheme(const std::string& theme) override { themes.push_back(theme); }
  void refreshUsage() override { ++usageRefreshes; }

  std::shared_ptr<FakeWebView> view;
  bool built = false;
  bool recording = false;
  std::string stored = "en-US";
  std::vector<std::string> locales, themes;
  int toggles = 0;
  int usageRefreshes = 0;
  bool popoverShownAtToggle = false;
  std::function<bool()> popoverShown;

 private:
  EventLog* log_;
};

class AppDelegateTest : public ::testing::Test {
 protected:
  std::shared_ptr<AppDelegate> launch() {
    auto delegate = construct();
    delegate->applicationDidFinishLaunching();
    queue_.advance(kPageSetUpDelaySeconds);
    return delegate;
  }

  std::shared_ptr<AppDelegate> construct() {
    return std::make_shared<AppDelegate>(AppDelegateServices{
        .makeStatusItem = [this]() -> std::shared_ptr<StatusItem> {
          if (!trayHost_) return nullptr;
          statusItem_ = std::make_shared<FakeStatusItem>(&log_);
          testing::note(&log_, "tray.create");
          return statusItem_;
        },
        .makePageHost =
            [this](std::weak_ptr<AppControllerPort> controller) {
              controllerSeenByHost_ = controller;
              page_ = std::make_shared<FakePageHost>(&log_);
              page_->popoverShown = [this] { return popover_ && popover_->isShown(); };
              testing::note(&log_, "page.create");
              return page_;
            },
        .makePopover =
            [this] {
              popover_ = std::make_shared<FakePopover>(&log_);
              testing::note(&log_, "popover.create");
              return popover_;
            },
        .clickMonitor = &clicks_,
        .hotKey = hotKey_,
        .application = application_,
        .mainQueue = queue_,
        .console = console_,
        .polisher = polisher_,
        .loginItem = loginItem_,
    });
  }

  void writeConfig(const std::string& text) { home_.put("config.json", text); }
  nlohmann::json storedConfig() const {
    return nlohmann::json::parse(home_.get("config.json").value_or("null"));
  }

  testing::TempHome home_;
  testing::FakeHttpClient http_;
  testing::RecordingConsole console_;
  DeepSeekPolisher polisher_{home_, localFileSystem(), http_, console_};
  EventLog log_;
  FakeClickMonitor clicks_{&log_};
  FakeHotKey hotKey_{&log_};
  FakeApplication application_;
  FakeMainQueue queue_;
  FakeLoginItem loginItem_;
  bool trayHost_ = true;
  std::shared_ptr<FakeStatusItem> statusItem_;
  std::shared_ptr<FakePageHost> page_;
  std::shared_ptr<FakePopover> popover_;
  std::weak_ptr<AppControllerPort> controllerSeenByHost_;
};

TEST_F(AppDelegateTest, launch_builds_everything_in_order_and_leaves_the_popover_closed) {
  auto delegate = launch();
  EXPECT_EQ(log_,
            (EventLog{"tray.create", "tray.icon", "tray.activate-handler", "tray.menu-provider",
                      "popover.create", "popover.size", "clicks.install", "hotkey.register",
                      "page.create", "page.load", "popover.content"}));
  EXPECT_EQ(popover_->width, 440);
  EXPECT_EQ(popover_->height, 420);
  EXPECT_EQ(popover_->content, page_->view);
  EXPECT_FALSE(popover_->shown);
  EXPECT_FALSE(popover_->closesOnFocusLoss);
  EXPECT_TRUE(delegate->contextMenu().has_value());
  EXPECT_EQ(controllerSeenByHost_.lock().get(), delegate.get());
  EXPECT_EQ(hotKey_.key, "F6");
  EXPECT_EQ(console_.lines(), std::vector<std::string>{"[Hotkey] F6 global hotkey registered"});
  EXPECT_FALSE(statusItem_->toolTip.has_value());
}

TEST_F(AppDelegateTest, holds_nothing_and_touches_nothing_before_launch) {
  auto delegate = construct();
  EXPECT_EQ(delegate->statusItem(), nullptr);
  EXPECT_EQ(delegate->popover(), nullptr);
  EXPECT_EQ(delegate->webViewController(), nullptr);
  EXPECT_FALSE(delegate->contextMenu().has_value());
  delegate->handleHotkeyAction();
  delegate->togglePopover();
  delegate->showStatusBarBadge(true);
  EXPECT_FALSE(delegate->isPopoverShown());
  EXPECT_TRUE(log_.empty());
  EXPECT_EQ(hotKey_.registrations, 0);
}

TEST_F(AppDelegateTest, refused_hotkey_prints_the_status_and_launch_still_completes) {
  hotKey_.status = -9878;
  clicks_.available = false;
  auto delegate = launch();
  EXPECT_EQ(console_.lines(),
            std::vector<std::string>{"[Hotkey] Failed to register F6 hotkey: -9878"});
  EXPECT_TRUE(popover_->closesOnFocusLoss);  // nothing else would close it
  EXPECT_EQ(hotKey_.registrations, 1);
}

TEST_F(AppDelegateTest, without_a_tray_the_page_opens_as_a_window_that_later_starts_reopen) {
  trayHost_ = false;
  auto delegate = launch();
  EXPECT_TRUE(popover_->window);
  EXPECT_TRUE(popover_->shown);
  EXPECT_FALSE(popover_->anchor.has_value());
  EXPECT_FALSE(popover_->closesOnFocusLoss);
  EXPECT_FALSE(clicks_.click);
  EXPECT_EQ(console_.lines(),
            (std::vector<std::string>{kNoTrayLine, "[Hotkey] F6 global hotkey registered"}));

  popover_->close();
  delegate->reopen();
  EXPECT_TRUE(popover_->shown);
  popover_->close();
  hotKey_.pressKey();
  queue_.runUntilIdle();
  EXPECT_TRUE(popover_->shown);
  EXPECT_EQ(page_->toggles, 1);
}

TEST_F(AppDelegateTest, a_later_start_leaves_the_tray_popover_alone) {
  auto delegate = launch();
  delegate->reopen();
  EXPECT_FALSE(popover_->shown);
}

TEST_F(AppDelegateTest, left_clicks_toggle_the_popover_at_the_tray_item) {
  auto delegate = launch();
  statusItem_->leftClick();
  EXPECT_TRUE(popover_->shown);
  ASSERT_TRUE(popover_->anchor.has_value());
  EXPECT_EQ(popover_->anchor->x, 600);
  statusItem_->leftClick();
  EXPECT_FALSE(popover_->shown);
  statusItem_->leftClick();
  EXPECT_TRUE(popover_->shown);
  delegate->showPopover();
  EXPECT_EQ(popover_->shows, 2);        // showing an open popover changes nothing
  EXPECT_EQ(page_->usageRefreshes, 2);  // the dashboard is current whenever it appears
  EXPECT_TRUE(page_->view->scripts.empty());
}

TEST_F(AppDelegateTest, clicks_elsewhere_close_only_an_open_popover) {
  auto delegate = launch();
  clicks_.clickElsewhere();
  EXPECT_EQ(popover_->closes, 0);
  delegate->showPopover();
  clicks_.clickElsewhere();
  EXPECT_FALSE(popover_->shown);
  EXPECT_EQ(popover_->closes, 1);
}

TEST_F(AppDelegateTest, a_click_on_the_tray_item_that_first_closed_the_popover_does_not_reopen_it) {
  // Closed by the click monitor (X11), or by focus loss where clicks cannot be watched.
  for (bool monitor : {true, false}) {
    SCOPED_TRACE(monitor ? "click monitor" : "focus loss");
    clicks_.available = monitor;
    auto delegate = launch();
    auto clickElsewhere = [&] {
      if (monitor) clicks_.clickElsewhere();
      popover_->loseFocus();
    };
    statusItem_->leftClick();
    ASSERT_TRUE(popover_->shown);
    clickElsewhere();          // the press on the panel's item
    statusItem_->leftClick();  // the same click's release, as an activation
    EXPECT_FALSE(popover_->shown);
    statusItem_->leftClick();  // a new click opens it again
    EXPECT_TRUE(popover_->shown);

    clickElsewhere();
    queue_.advance(kSameClickWindowSeconds);
    statusItem_->leftClick();  // long after the outside click: an ordinary click
    EXPECT_TRUE(popover_->shown);

    popover_->close();
    clickElsewhere();  // nothing was open, so nothing to remember
    statusItem_->leftClick();
    EXPECT_TRUE(popover_->shown);
  }
}

// The page may ignore the toggle (it is busy processing): only the recording controller,
// which knows whether capture started, may show the badge.
TEST_F(AppDelegateTest, f6_opens_the_popover_and_toggles_the_page_but_leaves_the_badge_alone) {
  auto delegate = launch();
  hotKey_.pressKey();
  EXPECT_EQ(page_->toggles, 0);  // presses are handled on the main queue
  queue_.runUntilIdle();
  EXPECT_TRUE(popover_->shown);
  EXPECT_TRUE(page_->popoverShownAtToggle);
  EXPECT_EQ(page_->toggles, 1);
  EXPECT_EQ(statusItem_->image, StatusImage::MenuBarIcon);
  EXPECT_NE(statusItem_->toolTip, "Recording...");

  page_->recording = true;
  hotKey_.pressKey();
  hotKey_.pressKey();
  queue_.runUntilIdle();
  EXPECT_TRUE(popover_->shown);  // F6 never closes it
  EXPECT_EQ(popover_->shows, 1);
  EXPECT_EQ(page_->toggles, 3);
  EXPECT_EQ(statusItem_->image, StatusImage::MenuBarIcon);
}

const MenuItem& findItem(const MenuModel& menu, const std::string& title) {
  for (const auto& item : menu) {
    if (item.title == title) return item;
  }
  throw std::runtime_error("no menu item " + title);
}

TEST_F(AppDelegateTest, menu_has_the_languages_themes_start_at_login_about_and_quit_in_order) {
  auto delegate = launch();
  MenuModel menu = statusItem_->rightClick();
  ASSERT_EQ(menu.size(), 8u);
  EXPECT_EQ(menu[0].title, "Language");
  EXPECT_EQ(menu[0].kind, MenuItem::Kind::Submenu);
  EXPECT_EQ(menu[1].title, "Theme");
  EXPECT_EQ(menu[2].title, "Start at Login");
  EXPECT_TRUE(menu[2].checkable);
  EXPECT_EQ(menu[3].title, "Paste into Active App");
  EXPECT_TRUE(menu[3].checkable);
  EXPECT_EQ(menu[4].kind, MenuItem::Kind::Separator);
  EXPECT_EQ(menu[5].title, "About Quorvel v1.1.0");
  EXPECT_EQ(menu[6].kind, MenuItem::Kind::Separator);
  EXPECT_EQ(menu[7].title, "Quit Quorvel");
  EXPECT_EQ(menu[7].accelerator, "<Control>q");

  std::vector<std::string> titles;
  for (const auto& item : menu[0].submenu) titles.push_back(item.title);
  EXPECT_EQ(titles,
            (std::vector<std::string>{
                "中文 (Chinese)", "English", "日本語 (Japanese)", "한국어 (Korean)",
                "Español (Spanish)", "Français (French)", "Deutsch (German)",
                "Português (Portuguese)", "Русский (Russian)", "العربية (Arabic)", "हिन्दी (Hindi)",
                "Italiano (Italian)", "ภาษาไทย (Thai)", "Tiếng Việt (Vietnamese)",
                "Bahasa (Indonesian)", "Türkçe (Turkish)", "粵語 (Cantonese)"}));
  ASSERT_EQ(menu[1].submenu.size(), 2u);
  EXPECT_EQ(menu[1].submenu[0].title, "Light");
  EXPECT_EQ(menu[1].submenu[1].title, "Dark");
}

std::vector<std::string> checkedTitles(const MenuModel& menu) {
  std::vector<std::string> checked;
  for (const auto& item : menu) {
    if (item.checked) checked.push_back(item.title);
    for (const auto& inner : checkedTitles(item.submenu)) checked.push_back(inner);
  }
  return checked;
}

TEST_F(AppDelegateTest, first_run_checks_english_and_light_only) {
  auto delegate = launch();
  EXPECT_EQ(checkedTitles(statusItem_->rightClick()),
            (std::vector<std::string>{"English", "Light"}));
}

TEST_F(AppDelegateTest, checks_follow_the_stored_choices_at_every_build) {
  writeConfig(R"({"theme": "dark"})");
  auto delegate = launch();
  page_->stored = "zh-HK";
  EXPECT_EQ(checkedTitles(statusItem_->rightClick()),
            (std::vector<std::string>{"粵語 (Cantonese)", "Dark"}));
  writeConfig(R"({"theme": "sepia"})");
  page_->stored = "xx-YY";
  EXPECT_TRUE(checkedTitles(statusItem_->rightClick()).empty());
  writeConfig(R"({"theme": 7})");
  EXPECT_EQ(checkedTitles(statusItem_->rightClick()), std::vector<std::string>{"Light"});
}

TEST_F(AppDelegateTest, language_rows_set_the_locale_and_only_page_languages_reach_the_page) {
  auto delegate = launch();
  auto menu = statusItem_->rightClick();
  for (const char* title : {"中文 (Chinese)", "日本語 (Japanese)", "English", "粵語 (Cantonese)"}) {
    findItem(menu[0].submenu, title).action();
  }
  EXPECT_EQ(page_->locales, (std::vector<std::string>{"zh-Hans", "ja-JP", "en-US", "zh-HK"}));
  EXPECT_EQ(page_->view->scripts,
            (std::vector<std::string>{page::setLanguage("zh"), page::setLanguage("en")}));
}

TEST_F(AppDelegateTest, choosing_dark_stores_it_keeping_other_keys_and_switches_the_page) {
  writeConfig(R"({"deepseek_api_key": "sk-1", "speech_locale": "de-DE", "theme": 3})");
  auto delegate = launch();
  findItem(statusItem_->rightClick()[1].submenu, "Dark").action();
  auto config = storedConfig();
  EXPECT_EQ(config,
            nlohmann::json::parse(
                R"({"deepseek_api_key": "sk-1", "speech_locale": "de-DE", "theme": "dark"})"));
  EXPECT_EQ(page_->themes, std::vector<std::string>{"dark"});
  EXPECT_EQ(checkedTitles(statusItem_->rightClick()[1].submenu), std::vector<std::string>{"Dark"});

  findItem(statusItem_->rightClick()[1].submenu, "Light").action();
  EXPECT_EQ(storedConfig()["theme"], "light");
  EXPECT_EQ(page_->themes, (std::vector<std::string>{"dark", "light"}));
}

TEST_F(AppDelegateTest, start_at_login_row_shows_the_stored_state_and_flips_it) {
  auto delegate = launch();
  console_.clear();
  auto row = [this] { return findItem(statusItem_->rightClick(), "Start at Login"); };
  EXPECT_FALSE(row().checked);
  row().action();
  EXPECT_TRUE(loginItem_.enabled);
  EXPECT_TRUE(row().checked);
  // Changed outside the program after the menu was built: the stored state decides.
  MenuItem stale = row();
  loginItem_.enabled = false;
  stale.action();
  EXPECT_TRUE(loginItem_.enabled);
  EXPECT_TRUE(console_.lines().empty());

  loginItem_.refuse = true;
  row().action();
  EXPECT_TRUE(loginItem_.enabled);
  EXPECT_TRUE(row().checked);
  EXPECT_EQ(console_.lines(),
            std::vector<std::string>{"[Quorvel] Could not stop Quorvel from starting at login"});
}

TEST_F(AppDelegateTest, paste_row_stores_a_boolean_beside_the_other_keys) {
  writeConfig(R"({"theme": "dark", "paste_into_active_app": "yes"})");
  auto delegate = launch();
  for (bool checked : {false, true, false}) {
    MenuItem row = findItem(statusItem_->rightClick(), "Paste into Active App");
    EXPECT_EQ(row.checked, checked);
    row.action();
    EXPECT_EQ(storedConfig(),
              (nlohmann::json{{"theme", "dark"}, {"paste_into_active_app", !checked}}));
  }
}

TEST_F(AppDelegateTest, about_shows_the_version_box_and_quit_ends_the_application) {
  auto delegate = launch();
  auto menu = statusItem_->rightClick();
  menu[5].action();
  ASSERT_EQ(application_.alerts.size(), 1u);
  EXPECT_EQ(application_.alerts[0].title, "Quorvel");
  EXPECT_EQ(application_.alerts[0].body,
            "Version 1.1.0\n\nVoice to polished text.\nPowered by PocketSphinx Speech "
            "Recognition & DeepSeek.");
  EXPECT_EQ(application_.alerts[0].button, "OK");
  EXPECT_EQ(application_.quits, 0);
  menu[7].action();
  EXPECT_EQ(application_.quits, 1);
}

TEST_F(AppDelegateTest, recording_side_sets_badge_and_tool_tip_through_the_port) {
  auto delegate = launch();
  AppControllerPort& port = *delegate;
  port.setStatusToolTip("Recording...");
  port.showStatusBarBadge(true);
  port.showStatusBarBadge(true);
  EXPECT_EQ(statusItem_->image, StatusImage::RecordingBadge);
  port.showStatusBarBadge(false);
  EXPECT_EQ(statusItem_->image, StatusImage::MenuBarIcon);
  EXPECT_EQ(statusItem_->toolTip, "Recording...");
  port.showPopover();
  EXPECT_TRUE(port.isPopoverShown());
  port.closePopover();
  EXPECT_FALSE(port.isPopoverShown());
}

TEST_F(AppDelegateTest, menu_actions_do_nothing_once_the_controller_is_gone) {
  auto delegate = launch();
  auto menu = statusItem_->rightClick();
  delegate.reset();
  menu[7].action();
  EXPECT_EQ(application_.quits, 0);
}

}  // namespace
}  // namespace quorvel
