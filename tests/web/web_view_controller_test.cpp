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

namespace fs = std::filesystem;
using testing::FakeWebView;

class WebViewControllerTest : public ::testing::Test {
 protected:
  std::shared_ptr<WebViewController> make(std::vector<std::string> searchPaths) {
    controller_ = std::make_shared<testing::FakeAppController>();
    auto made = std::make_shared<WebViewController>(
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
            .bundleSearchPaths = std::move(searchPaths),
        },
        controller_);
    return made;
  }

  fs::path makeBundle(const std::string& folder) {
    fs::path bundle = root_ / folder / kResourceBundleName;
    fs::create_directories(bundle);
    std::ofstream(bundle / "ui.html") << "<html></html>";
    return bundle;
  }

  void writeSupportFile(const std::string& name, const std::string& text) { home_.put(name, text); }

  FakeWebView& view() { return *views_.made.at(0); }

  // Home and bundle folders alike live under one temporary root.
  testing::TempHome home_;
  fs::path root_ = home_.path();
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
  std::shared_ptr<testing::FakeAppController> controller_;
};

TEST_F(WebViewControllerTest, builds_nothing_until_the_view_is_loaded_and_only_once) {
  auto controller = make({});
  EXPECT_FALSE(controller->hasRecorder());
  EXPECT_EQ(controller->webView(), nullptr);
  controller->applyTheme("dark");
  controller->toggleRecordingFromHotkey();
  EXPECT_FALSE(controller->isRecording());
  EXPECT_TRUE(views_.made.empty());
  controller->loadView();
  controller->loadView();
  EXPECT_EQ(views_.made.size(), 1u);
  EXPECT_TRUE(controller->hasRecorder());
}

TEST_F(WebViewControllerTest, installs_the_shim_and_the_handler_and_loads_the_installed_page) {
  auto installed = makeBundle("prefix/share/quorvel");
  makeBundle("build");
  auto controller = make({(root_ / "missing").string(), (root_ / "prefix/share/quorvel").string(),
                          (root_ / "build").string()});
  controller->loadView();
  EXPECT_EQ(view().documentStartScripts, std::vector<std::string>{page::bridgeShim()});
  EXPECT_EQ(view().handlerName, "pywebview");
  EXPECT_TRUE(view().transparent);
  EXPECT_EQ(view().loadedFile, (installed / "ui.html").string());
  EXPECT_EQ(view().readableDirectory, installed.string());
  EXPECT_FALSE(view().loadedHTML.has_value());
}

TEST_F(WebViewControllerTest, falls_back_to_the_build_folder_then_to_the_error_page) {
  auto built = makeBundle("build");
  auto controller = make({(root_ / "prefix").string(), (root_ / "build").string()});
  controller->loadView();
  EXPECT_EQ(view().loadedFile, (built / "ui.html").string());

  auto orphan = make({(root_ / "prefix").string()});
  orphan->loadView();
  EXPECT_FALSE(views_.made.at(1)->loadedFile.has_value());
  EXPECT_EQ(views_.made.at(1)->loadedHTML,
            "<html><body><h1>Error loading ui.html</h1></body></html>");
}

TEST_F(WebViewControllerTest, page_messages_reach_the_recording_controller) {
  recognizers_.support("en-US");  // the recogniser is chosen when the view is built
  auto controller = make({});
  controller->loadView();
  view().post({{"action", "start_recording"}});
  queue_.runUntilIdle();
  EXPECT_TRUE(controller->isRecording());
}

TEST_F(WebViewControllerTest, every_finished_load_injects_theme_usage_and_history_in_order) {
  writeSupportFile("config.json", R"({"theme": "dark"})");
  writeSupportFile("usage.json", "{\n \"total_chars\": 3\n}");
  writeSupportFile("history.json", R"([{"raw":"it's"}])");
  auto controller = make({});
  controller->loadView();
  view().finishLoad();
  std::vector<std::string> expected = {
      page::applyTheme(true), page::injectUsageData("{\n \"total_chars\": 3\n}"),
      page::injectHistory(R"([{"raw":"it's"}])"), page::updateUsageFromInjectedData()};
  EXPECT_EQ(view().scripts, expected);
  view().finishLoad();  // a reload gets the same again
  EXPECT_EQ(view().scripts.size(), 8u);
  // The popover being shown: the dashboard gets the figures as they are now.
  writeSupportFile("usage.json", R"({"total_chars": 9})");
  controller->refreshUsage();
  EXPECT_EQ(view().scripts.back(), page::refreshUsage(R"({"total_chars": 9})"));
}

TEST_F(WebViewControllerTest, first_load_without_files_gets_light_theme_and_usage_refresh_only) {
  writeSupportFile("config.json", R"({"theme": 42})");
  auto controller = make({});
  controller->loadView();
  view().finishLoad();
  EXPECT_EQ(view().scripts, (std::vector<std::string>{page::applyTheme(false),
                                                      page::updateUsageFromInjectedData()}));
}

TEST_F(WebViewControllerTest, locale_choice_is_stored_with_or_without_the_recorder) {
  auto controller = make({});
  controller->setSpeechLocale("fr-FR");
  EXPECT_EQ(controller->storedSpeechLocale(), "fr-FR");
  controller->loadView();
  controller->setSpeechLocale("ja-JP");
  EXPECT_EQ(controller->storedSpeechLocale(), "ja-JP");
  EXPECT_EQ(polisher_.readConfig()["speech_locale"], "ja-JP");
}

TEST_F(WebViewControllerTest, hotkey_toggle_asks_the_page_to_toggle) {
  auto controller = make({});
  controller->loadView();
  controller->toggleRecordingFromHotkey();
  EXPECT_EQ(view().scripts, std::vector<std::string>{page::toggleState(false)});
}

}  // namespace
}  // namespace quorvel
