#include "web/web_view_controller.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fakes/fake_audio_input.h"
#include "fakes/fake_http_client.h"
#include "fakes/fake_main_queue.h"
#include "fakes/fake_speech.h"
#include "fakes/fake_web_view.h"
#include "fakes/recording_console.h"
#include "fakes/temp_home.h"
#include "web/page_calls.h"

namespace quorvel {
namespace {

using Lines = std::vector<std::string>;

class WebViewControllerTest : public ::testing::Test {
 protected:
  // A controller that looks for the bundle in these folders of the temporary home.
  std::shared_ptr<WebViewController> make(Lines folders = {}) {
    for (auto& folder : folders) folder = home_.path() + "/" + folder;
    return std::make_shared<WebViewController>(
        WebViewControllerServices{views_, engine_, localFileSystem(), folders},
        std::weak_ptr<AppControllerPort>());
  }
  std::string bundle(const std::string& folder) {
    const std::string dir = home_.path() + "/" + folder + "/" + kResourceBundleName;
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/ui.html") << "<html></html>";
    return dir;
  }
  testing::FakeWebView& view() { return *views_.made.back(); }

  testing::TempHome home_;
  testing::FakeHttpClient http_;
  testing::RecordingConsole console_;
  DeepSeekPolisher polisher_{home_, localFileSystem(), http_, console_};
  HistoryStore history_{home_, localFileSystem()};
  UsageStore usage_{home_, localFileSystem(), systemCalendar()};
  testing::FakeMainQueue queue_;
  testing::FakeSpeechRecognizerFactory recognizers_{queue_};
  testing::FakePermissionProvider permissions_;
  testing::FakeAudioInput microphone_;
  AudioEngineServices engine_{queue_,    recognizers_, permissions_, microphone_,
                              polisher_, history_,     usage_,       console_};
  testing::FakeWebViewFactory views_;
};

TEST_F(WebViewControllerTest, before_loading_only_the_locale_acts_then_the_first_bundle_loads) {
  const std::string installed = bundle("prefix");
  bundle("build");
  auto controller = make({"missing", "prefix", "build"});
  controller->applyTheme("dark");  // nothing to reach before the view is loaded
  controller->toggleRecordingFromHotkey();
  controller->setSpeechLocale("fr-FR");  // kept for the next launch all the same
  EXPECT_TRUE(views_.made.empty());
  EXPECT_EQ(controller->storedSpeechLocale(), "fr-FR");
  controller->loadView();
  controller->loadView();  // once only
  EXPECT_EQ(views_.made.size(), 1u);
  EXPECT_EQ(view().startScript, page::bridgeShim());
  EXPECT_TRUE(view().transparent);
  EXPECT_EQ(view().loaded, installed + "/ui.html reading " + installed);
  make({"missing"})->loadView();
  EXPECT_EQ(view().loaded, kUIErrorPage);
}

// Every finished load hands the page what is stored now, in this order; F6 goes to the page.
TEST_F(WebViewControllerTest, each_load_gets_theme_usage_and_history_and_f6_toggles_the_page) {
  home_.put("config.json", R"({"theme": 42})");
  auto controller = make();
  controller->loadView();
  view().loadFinished();
  home_.put("config.json", R"({"theme": "dark"})");
  home_.put("usage.json", "{\"total_chars\": 3}");
  home_.put("history.json", "[]");
  view().loadFinished();
  controller->refreshUsage();  // the popover is being shown
  controller->toggleRecordingFromHotkey();
  EXPECT_EQ(view().scripts,
            (Lines{page::applyTheme(false), page::updateUsageFromInjectedData(),
                   page::applyTheme(true), page::injectUsageData("{\"total_chars\": 3}"),
                   page::injectHistory("[]"), page::updateUsageFromInjectedData(),
                   page::refreshUsage("{\"total_chars\": 3}"), page::toggleState(false)}));
}

}  // namespace
}  // namespace quorvel
