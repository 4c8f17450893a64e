#include "app/app_delegate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

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

// A page host whose recorder starts and stops at each toggle, noting what reaches it.
class FakePageHost final : public PageHost {
 public:
  explicit FakePageHost(std::shared_ptr<testing::FakePopover> popover) : popover_(popover) {}
  void loadView() override { view = std::make_shared<testing::FakeWebView>(); }
  std::shared_ptr<WebView> webView() const override { return view; }
  bool hasRecorder() const override { return true; }
  bool isRecording() const override { return recording; }
  void setSpeechLocale(const std::string& identifier) override { calls.push_back(identifier); }
  void toggleRecordingFromHotkey() override {
    recording = !recording;
    calls.push_back(popover_->shown ? "toggle" : "toggle while hidden");
  }
  std::string storedSpeechLocale() const override { return stored; }
  void applyTheme(const std::string& theme) override { calls.push_back("theme " + theme); }
  void refreshUsage() override { ++usageRefreshes; }

  std::shared_ptr<testing::FakeWebView> view;
  std::string stored = "en-US";
  bool recording = false;
  Lines calls;
  int usageRefreshes = 0;

 private:
  std::shared_ptr<testing::FakePopover> popover_;
};

class AppDelegateTest : public ::testing::Test {
 protected:
  void launch(bool tray) {
    auto makeItem = [this, tray]() -> std::shared_ptr<StatusItem> {
      item = std::make_shared<testing::FakeStatusItem>();
      item->hostAvailable = tray;
      return item;
    };
    auto makePage = [this](auto) { return page = std::make_shared<FakePageHost>(popover); };
    auto makePopover = [this] { return popover = std::make_shared<testing::FakePopover>(); };
    delegate = std::make_shared<AppDelegate>(
        AppDelegateServices{makeItem, makePage, makePopover, &desktop, desktop, desktop, queue,
                            console, polisher, desktop, withPaster ? &paster : nullptr});
    delegate->applicationDidFinishLaunching();
    queue.advance(kPageSetUpDelaySeconds);
  }

  // The menu's rows by title, the submenus' rows too.
  std::map<std::string, MenuItem> menuRows() {
    std::map<std::string, MenuItem> rows;
    std::function<void(const MenuModel&)> add = [&](const MenuModel& level) {
      for (const auto& row : level) {
        rows.emplace(row.title, row);
        add(row.submenu);
      }
    };
    add(item->menu());
    return rows;
  }

  testing::TempHome home;
  testing::FakeHttpClient http;
  testing::RecordingConsole console;
  DeepSeekPolisher polisher{home, localFileSystem(), http, console};
  testing::FakeDesktop desktop;
  testing::FakeMainQueue queue;
  testing::FakeTextPaster paster;
  bool withPaster = true;
  std::shared_ptr<AppDelegate> delegate;
  std::shared_ptr<testing::FakeStatusItem> item;
  std::shared_ptr<FakePageHost> page;
  std::shared_ptr<testing::FakePopover> popover;
};

// Setups: m clicks elsewhere cannot be watched, n no tray, o the paste row off, p nothing can
// paste here, f our own window has the focus, c pasting can only copy, x nor even that.
// Steps: L a click on the tray item, C a click elsewhere (seen by the click monitor, or as the
// loss of focus), W the time that makes two clicks one passes, R the program started again,
// F F6, P the page stops recording by itself, D "hi" delivered, E nothing heard delivered,
// X the user closes the page, T a tray appears, t it goes.
// The page is then 0 hidden, 1 open at the tray item, w a window, x a closed window, or p
// closed to hand the focus back and "hi" pasted. F6 opens the page before toggling it, and
// every show brings the usage figures up to date.
TEST_F(AppDelegateTest, clicks_f6_and_the_tray_decide_where_the_page_shows_and_what_is_pasted) {
  const std::string registered = "[Hotkey] F6 global hotkey registered";
  const struct {
    std::string setup, steps, states, line;
  } rows[] = {
      // One click on the item comes as a click elsewhere and as an activation, in either
      // order: the second must not undo the first.
      {"", "RLCLLCWCLWLXCL", "01101110001001", registered},
      {"m", "LCLLWCWLXCL", "10011001001", registered},
      {"n", "-CXRXFTRLt", "wwxwxw001w", kNoTrayLine},
      {"", "FFD", "11p", registered},
      {"c", "FFD", "11p", kCopiedLine},
      {"x", "FFD", "11p", "[Paste] Could not put the text on the clipboard"},
      {"", "LFFD", "1111", registered},
      {"o", "FFD", "111", registered},
      {"p", "FFD", "111", registered},
      {"f", "FFD", "111", registered},
      {"", "FPD", "111", registered},
      {"", "FFE", "111", registered},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.setup + " " + row.steps);
    auto has = [&](char flag) { return row.setup.find(flag) != std::string::npos; };
    desktop = testing::FakeDesktop{};
    desktop.clicksWatched = !has('m');
    withPaster = !has('p');
    paster = testing::FakeTextPaster{};
    paster.focus = !has('f');
    paster.outcome = has('c')   ? PasteOutcome::Copied
                     : has('x') ? PasteOutcome::Failed
                                : PasteOutcome::Pasted;
    home.put("config.json", has('o') ? "{}" : R"({"paste_into_active_app": true})");
    launch(!has('n'));
    const std::map<char, std::function<void()>> act = {
        {'L',
         [&] {
           item->click(ScreenPoint{600, 0});
         }},
        {'C', [&] { has('m') ? popover->loseFocus() : desktop.clickElsewhere(); }},
        {'W', [&] { queue.advance(kSameClickWindowSeconds); }},
        {'R', [&] { delegate->reopen(); }},
        {'F', [&] { desktop.pressF6(); }},
        {'P', [&] { page->recording = false; }},
        {'D', [&] { delegate->dictationDelivered("hi"); }},
        {'E', [&] { delegate->dictationDelivered(""); }},
        {'X', [&] { popover->close(); }},
        {'T', [&] { item->setHostAvailable(true); }},
        {'t', [&] { item->setHostAvailable(false); }},
        {'-', [] {}},
    };
    const int unrefreshed = popover->shows - page->usageRefreshes;
    for (size_t i = 0; i < row.steps.size(); ++i) {
      const size_t pasted = paster.pasted.size();
      act.at(row.steps[i])();
      queue.runUntilIdle();  // F6 presses are handled on the main queue
      char state = popover->window ? (popover->shown ? 'w' : 'x') : (popover->shown ? '1' : '0');
      if (paster.pasted.size() > pasted && state == '0' && paster.pasted.back() == "hi")
        state = 'p';
      EXPECT_EQ(state, row.states[i]) << "step " << i + 1;
      EXPECT_EQ(desktop.windowed, popover->window);
      EXPECT_TRUE(!popover->shown || popover->anchor.has_value() != popover->window);
      EXPECT_EQ(popover->shows - page->usageRefreshes, unrefreshed);
    }
    EXPECT_EQ(page->calls, Lines(std::ranges::count(row.steps, 'F'), "toggle"));
    EXPECT_EQ(console.lines().back(), row.line);
  }
}

TEST_F(AppDelegateTest, menu_rows_show_the_stored_choices_and_write_config_keeping_other_keys) {
  launch(true);
  const struct {
    std::string locale, config;
    Lines checked;
  } stored[] = {
      {"zh-HK",
       R"({"theme": "dark", "paste_into_active_app": true})",
       {"Dark", kPasteMenuTitle, "粵語 (Cantonese)"}},
      {"en-US", R"({"theme": 7, "paste_into_active_app": "yes"})", {"English", "Light"}},
      {"xx-YY", R"({"theme": "sepia"})", {}},
  };
  for (const auto& row : stored) {
    page->stored = row.locale;
    home.put("config.json", row.config);
    Lines checked;
    for (const auto& [title, entry] : menuRows()) {
      if (entry.checked) checked.push_back(title);
    }
    EXPECT_EQ(checked, row.checked) << row.config;
  }
  // The paste row turns an unreadable value on, then off and on again; other keys stay.
  home.put("config.json", R"({"key": "sk", "paste_into_active_app": "yes"})");
  for (const char* title :
       {"Dark", kPasteMenuTitle, kPasteMenuTitle, kPasteMenuTitle, "中文 (Chinese)"}) {
    menuRows().at(title).action();
  }
  EXPECT_EQ(
      nlohmann::json::parse(*home.get("config.json")),
      nlohmann::json::parse(R"({"key": "sk", "theme": "dark", "paste_into_active_app": true})"));
  EXPECT_EQ(page->calls, (Lines{"theme dark", "zh-Hans"}));
  EXPECT_EQ(page->view->scripts, Lines{page::setLanguage("zh")});
}

}  // namespace
}  // namespace quorvel
