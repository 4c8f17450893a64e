#include "web/web_view_controller.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fakes/fake_app_controller.h"
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
  // A controller that looks for bundles in these folders under the temporary home.
  std::shared_ptr<WebViewController> make(const Lines& folders = {}) {
    Lines paths;
    for (const auto& folder : folders) paths.push_back(home_.path() + "/" + folder);
    return std::make_shared<WebViewController>(
        WebViewControllerServices{
            .webViews = views_,
            .engine = AudioEngineServices{.mainQueue = queue_,
                                          .recognizers = recognizers_,
                                          .permissions = permissions_,
                                          .audioInput = microphone_,
                                          .polisher = polisher_,
                                          .history = history_,
                                          .usage = usage_,
                                          .console = console_},
            .files = localFileSystem(),
            .bundleSearchPaths = paths,
        },
        app_);
  }
  std::shared_ptr<WebViewController> load(const Lines& folders = {}) {
    auto controller = make(folders);
    controller->loadView();
    return controller;
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
  testing::FakeWebViewFactory views_;
  std::shared_ptr<testing::FakeAppController> app_ = std::make_shared<testing::FakeAppController>();
};

TEST_F(WebViewControllerTest, loads_the_first_bundle_found_else_the_error_page_and_only_once) {
  const std::string installed = bundle("prefix");
  bundle("build");
  auto controller = load({"missing", "prefix", "build"});
  controller->loadView();
  EXPECT_EQ(views_.made.size(), 1u);
  EXPECT_EQ(view().startScripts, Lines{page::bridgeShim()});
  EXPECT_EQ(view().handlerName, "pywebview");
  EXPECT_TRUE(view().transparent);
  EXPECT_EQ(view().loaded, installed + "/ui.html reading " + installed);
  load({"missing"});
  EXPECT_EQ(view().loaded, kUIErrorPage);
}

TEST_F(WebViewControllerTest, page_messages_and_f6_reach_the_recording_controller) {
  recognizers_.support("en-US");  // the recogniser is chosen when the view is built
  auto controller = load();
  controller->toggleRecordingFromHotkey();
  EXPECT_EQ(view().scripts, Lines{page::toggleState(false)});
  view().post({{"action", "start_recording"}});
  queue_.runUntilIdle();
  EXPECT_TRUE(controller->audioEngine()->isRecording());
}

TEST_F(WebViewControllerTest, every_finished_load_injects_theme_usage_and_history_in_order) {
  const auto injected = [](bool dark, const char* usage, const char* history) {
    Lines out{page::applyTheme(dark)};
    if (usage) out.push_back(page::injectUsageData(usage));
    if (history) out.push_back(page::injectHistory(history));
    out.push_back(page::updateUsageFromInjectedData());
    return out;
  };
  home_.put("config.json", R"({"theme": 42})");
  auto controller = load();
  view().finishLoad();
  EXPECT_EQ(view().scripts, injected(false, nullptr, nullptr));

  home_.put("config.json", R"({"theme": "dark"})");
  home_.put("usage.json", "{\n \"total_chars\": 3\n}");
  home_.put("history.json", R"([{"raw":"it's"}])");
  view().scripts.clear();
  view().finishLoad();  // a reload gets them again, as they are now
  EXPECT_EQ(view().scripts, injected(true, "{\n \"total_chars\": 3\n}", R"([{"raw":"it's"}])"));
  controller->refreshUsage();  // the popover is being shown
  EXPECT_EQ(view().scripts.back(), page::refreshUsage("{\n \"total_chars\": 3\n}"));
}

TEST_F(WebViewControllerTest, before_loading_only_the_locale_choice_acts_and_it_is_stored) {
  auto controller = make();
  controller->applyTheme("dark");  // nothing to reach before the view is loaded
  controller->toggleRecordingFromHotkey();
  EXPECT_TRUE(views_.made.empty());
  controller->setSpeechLocale("fr-FR");
  EXPECT_EQ(controller->storedSpeechLocale(), "fr-FR");
  controller->loadView();
  controller->setSpeechLocale("ja-JP");
  EXPECT_EQ(polisher_.readConfig()["speech_locale"], "ja-JP");
}

}  // namespace
}  // namespace quorvel
