// Scenes for the recording controller: the controller on fakes (a virtual-clock main queue,
// scripted permissions, recognisers, microphone, web view and tray, and the real polisher and
// stores in a temporary home whose HTTP client answers only when told), driven by one line of
// steps per case, separated by " | ". After an action (not after a check) the main queue runs
// until nothing is due now, unless its verb ends in "!".
//   actions: start, stop [mode], send <json>, edit, editstop, partial|final|fail <text> (to the
//     newest task; "#n final ..." to the n-th), late <text> (a final sent even after a cancel),
//     lateerror <text>, backlog <seconds>, push, threadpush, nopush, advance <seconds>, run,
//     reply <text> (polished text for the oldest request), workerreply <text> (the same from
//     another thread), httpfail <why>, httpreply <status> <body>, httptimeout, lose <why>,
//     micfail <why>, micok, hold, answer, locale <id>, support <id>, config <json>, new, gone,
//     noview, noapp, hotkey, unavailable, diskfull, evalfail <error>,
//     speech|microphone ask|refuse|denied|restricted|granted, holdanswers, answers (from a
//     thread), mark (the checks below look only at what comes after it)
//   checks: page <text> (a page call after the last one matched holds it; "=<text>" is it),
//     nopage <text> (none after it does), quiet (no page call after it), log <text>,
//     nolog <text>, tray <a,b,...> and mic <a,b,...> (exactly the calls since their last
//     check), nomic <text>, state recording|waiting|idle, sent <n>, pending <n>,
//     usage <chars> <sessions>, buffers <n>, ended <n> (endAudio calls), cancelled <0|1>,
//     history <text|none>, body <text> (of the last request), wavbytes <n>, prompts <a,b>,
//     stored <locale>, configholds <text>, recognizer <locale> <tasks|none>
#pragma once

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "fakes/failing_file_system.h"
#include "fakes/fake_app_controller.h"
#include "fakes/fake_audio_input.h"
#include "fakes/fake_http_client.h"
#include "fakes/fake_main_queue.h"
#include "fakes/fake_script_evaluator.h"
#include "fakes/fake_speech.h"
#include "fakes/fixed_calendar.h"
#include "fakes/recording_console.h"
#include "fakes/temp_home.h"
#include "platform/file_system.h"
#include "speech/audio_engine.h"

namespace quorvel::testing {

struct Scene {
  const char* name;
  const char* steps;
};

class EngineScript : public ::testing::TestWithParam<Scene> {
 protected:
  TempHome home;
  FakeMainQueue queue;
  RecordingConsole console;
  FakeHttpClient http;
  FixedCalendar calendar{"2026-12-06"};
  FakePermissionProvider permissions;
  FakeSpeechRecognizerFactory recognizers{queue};
  FakeAudioInput microphone;
  FailingFileSystem disk{localFileSystem()};
  DeepSeekPolisher polisher{home, disk, http, console};
  HistoryStore history{home, disk};
  UsageStore usage{home, disk, calendar};
  std::shared_ptr<FakeScriptEvaluator> webView = std::make_shared<FakeScriptEvaluator>(queue);
  std::shared_ptr<FakeAppController> app = std::make_shared<FakeAppController>();
  std::shared_ptr<AudioEngine> engine;
  size_t pageAt_ = 0, logAt_ = 0, trayAt_ = 0, micAt_ = 0;
  bool checking_ = false;
  // Stands in for a task a scene names before there is one: its checks fail, its actions vanish.
  FakeRecognitionTask none_{queue, std::make_shared<FakeRecognitionRequest>(), [](auto&, auto&) {}};

  std::shared_ptr<AudioEngine> makeEngine() {
    auto made = std::make_shared<AudioEngine>(AudioEngineServices{
        queue, recognizers, permissions, microphone, polisher, history, usage, console});
    made->setWebView(webView);
    made->setAppDelegate(app);
    return made;
  }

  // Runs the scene's steps in order.
  void play(const Scene& scene);
  void send(const nlohmann::json& body) {
    if (engine) engine->userContentControllerDidReceive(body);
  }

  static std::string joined(const std::vector<std::string>& all, size_t from) {
    std::string out;
    for (size_t i = from; i < all.size(); ++i) out += (i > from ? "," : "") + all[i];
    return out;
  }
  // The first entry from `from` on that holds `text`, or all.size().
  // An argument that starts with "=" is the whole entry.
  static size_t find(const std::vector<std::string>& all, size_t from, const std::string& text) {
    auto holds = [&](const std::string& entry) {
      return text[0] == '=' ? entry == text.substr(1) : entry.find(text) != std::string::npos;
    };
    while (from < all.size() && !holds(all[from])) ++from;
    return from;
  }
  void expectFound(const std::vector<std::string>& all, size_t& at, const std::string& text) {
    size_t found = find(all, at, text);
    EXPECT_LT(found, all.size()) << "not found after " << at << " in:\n" << joined(all, 0);
    if (found < all.size()) at = found + 1;
  }
  void act(const std::string& verb, const std::string& arg, FakeRecognitionTask* task);
  template <class Actual, class Expected>
  static void same(const Actual& actual, const Expected& expected) {
    EXPECT_EQ(actual, expected);
  }
};

inline std::string sceneName(const ::testing::TestParamInfo<Scene>& info) {
  return info.param.name;
}

}  // namespace quorvel::testing

// One table of scenes for one source file's behaviour.
#define ENGINE_SCENES(Suite, ...)                                                         \
  namespace quorvel::testing {                                                            \
  class Suite : public EngineScript {};                                                   \
  TEST_P(Suite, plays) {                                                                  \
    play(GetParam());                                                                     \
  }                                                                                       \
  INSTANTIATE_TEST_SUITE_P(, Suite, ::testing::ValuesIn(std::vector<Scene>{__VA_ARGS__}), \
                           sceneName);                                                    \
  }
