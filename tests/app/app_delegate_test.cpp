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

// A page host whose recorder starts and stops at each toggle, noting whether the popover showed.
class FakePageHost final : public PageHost {
 public:
  explicit FakePageHost(std::shared_ptr<testing::FakePopover> popover) : popover_(popover) {}
  void loadView() override { view = std::make_shared<testing::FakeWebView>(); }
  std::shared_ptr<WebView> webView() const override { return view; }
  bool hasRecorder() const override { return true; }
  bool isRecording() const override { return recording; }
  void setSpeechLocale(const std::string&) override {}
  void toggleRecordingFromHotkey() override {
    recording = !recording;
    calls.push_back(popover_->shown ? "toggle" : "toggle while hidden");
  }
  std::string storedSpeechLocale() const override { return "en-US"; }
  void applyTheme(const std::string&) override {}
  void refreshUsage() override { ++usageRefreshes; }

  std::shared_ptr<testing::FakeWebView> view;
  bool recording = false;
  Lines calls;
  int usageRefreshes = 0;

 private:
  std::shared_ptr<testing::FakePopover> popover_;
};

class AppDelegateTest : public ::testing::Test {
 protected:
  void launch() {
    auto makeItem = [this] { return item = std::make_shared<testing::FakeStatusItem>(); };
    auto makePage = [this](auto) { return page = std::make_shared<FakePageHost>(popover); };
    auto makePopover = [this] { return popover = std::make_shared<testing::FakePopover>(); };
    delegate = std::make_shared<AppDelegate>(
        AppDelegateServices{makeItem, makePage, makePopover, &desktop, desktop, desktop, queue,
                            console, polisher, desktop, withPaster ? &paster : nullptr});
    delegate->applicationDidFinishLaunching();
    queue.advance(kPageSetUpDelaySeconds);
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

// Setups: m clicks elsewhere cannot be watched, o the paste row off (its value unreadable),
// p nothing can paste here, f our own window has the focus, c pasting can only copy, x nor even
// that. Steps: L a click on the tray item, C a click elsewhere (seen by the click monitor, or as
// the loss of focus), W the time that makes two clicks one passes, R the program started again,
// X the user closes the popover, M the paste row chosen, F F6, P the page stops recording by
// itself, D "hi" delivered, E nothing heard delivered. The popover is then 0 hidden, 1 shown at
// the tray item, or p closed to hand the focus back and "hi" pasted. F6 shows the popover
// before toggling the page, every show brings the usage figures up to date, and the paste row
// keeps the other keys of the config.
TEST_F(AppDelegateTest, clicks_f6_and_the_paste_row_decide_what_shows_and_what_is_pasted) {
  const struct {
    std::string setup, steps, states, line = "";
  } rows[] = {
      // One click on the item comes as a click elsewhere and as an activation, in either
      // order: the second must not undo the first.
      {"", "RLCLLCWCLWLXCL", "01101110001001"},
      {"m", "LCLLWCWLXCL", "10011001001"},
      {"", "FFD", "11p"},
      {"c", "FFD", "11p", kCopiedLine},
      {"x", "FFD", "11p", "[Paste] Could not put the text on the clipboard"},
      {"", "LFFD", "1111"},
      {"o", "FFD", "111"},
      {"o", "MFFD", "011p"},
      {"", "MFFD", "0111"},
      {"p", "FFD", "111"},
      {"f", "FFD", "111"},
      {"", "FPD", "111"},
      {"", "FFE", "111"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.setup + " " + row.steps);
    auto has = [&](char flag) { return row.setup.find(flag) != std::string::npos; };
    desktop.clicksWatched = !has('m');
    withPaster = !has('p');
    paster = testing::FakeTextPaster{};
    paster.focus = !has('f');
    paster.outcome = has('c')   ? PasteOutcome::Copied
                     : has('x') ? PasteOutcome::Failed
                                : PasteOutcome::Pasted;
    home.put("config.json", has('o') ? R"({"key": "sk", "paste_into_active_app": "yes"})"
                                     : R"({"key": "sk", "paste_into_active_app": true})");
    launch();
    console.clear();
    const std::map<char, std::function<void()>> act = {
        {'L',
         [&] {
           item->click(ScreenPoint{600, 0});
         }},
        {'C', [&] { has('m') ? popover->loseFocus() : desktop.clickElsewhere(); }},
        {'W', [&] { queue.advance(kSameClickWindowSeconds); }},
        {'R', [&] { delegate->reopen(); }},
        {'X', [&] { popover->close(); }},
        {'M',
         [&] {
           const MenuModel menu = item->menu();
           std::ranges::find(menu, kPasteMenuTitle, &MenuItem::title)->action();
         }},
        {'F', [&] { desktop.pressF6(); }},
        {'P', [&] { page->recording = false; }},
        {'D', [&] { delegate->dictationDelivered("hi"); }},
        {'E', [&] { delegate->dictationDelivered(""); }},
    };
    const int unrefreshed = popover->shows - page->usageRefreshes;
    for (size_t i = 0; i < row.steps.size(); ++i) {
      const size_t pasted = paster.pasted.size();
      act.at(row.steps[i])();
      queue.runUntilIdle();  // F6 presses are handled on the main queue
      char state = popover->shown ? '1' : '0';
      if (paster.pasted.size() > pasted && state == '0' && paster.pasted.back() == "hi")
        state = 'p';
      EXPECT_EQ(state, row.states[i]) << "step " << i + 1;
      EXPECT_TRUE(!popover->shown || popover->anchor.has_value());
      EXPECT_EQ(popover->shows - page->usageRefreshes, unrefreshed);
    }
    EXPECT_EQ(page->calls, Lines(std::ranges::count(row.steps, 'F'), "toggle"));
    EXPECT_EQ(console.lines(), row.line.empty() ? Lines{} : Lines{row.line});
    EXPECT_EQ(nlohmann::json::parse(*home.get("config.json"))["key"], "sk");
  }
}

}  // namespace
}  // namespace quorvel
