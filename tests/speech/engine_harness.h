// Scenes for the recording controller: the controller on fakes (a virtual-clock main queue,
// recognisers, microphone, web view and tray, and the real polisher and stores in a temporary
// home whose HTTP client answers only when told), driven by one line of steps per case,
// separated by " | ". After an action (not after a check) the main queue runs until nothing is
// due now, unless its verb ends in "!".
//   actions: start, stop [mode], send <json>, edit, editstop, partial|final|fail <text> (from
//     the newest task; "#n final ..." from the n-th, also after it was cancelled), backlog
//     <seconds>, push, threadpush, nopush, advance <seconds>, run, reply <text> (polished text
//     for the oldest request), workerreply <text> (the same from another thread), httpfail
//     <why>, httpreply <status> <body>, lose <why>, micfail <why>, micok, hold, answer, locale
//     <id>, config <json>, new, gone, noview, noapp, hotkey, unavailable, diskfull, mark (the
//     checks below look only at what comes after it)
//   checks: page <text> (a page call after the last one matched holds it; "=<text>" is it),
//     nopage <text> (none after it does), quiet (no page call after it), log <text>,
//     nolog <text>, tray <a,b,...> and mic <a,b,...> (exactly the calls since their last
//     check), nomic <text>, state recording|waiting|idle, sent <n>, pending <n>,
//     usage <chars> <sessions>, buffers <n>, ended <n> (endAudio calls), cancelled <0|1>,
//     history <text|none>, body <text> (of the last request), wavbytes <n>
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "fakes/failing_file_system.h"
#include "fakes/fake_app_controller.h"
#include "fakes/fake_audio_input.h"
#include "fakes/fake_http_client.h"
#include "fakes/fake_main_queue.h"
#include "fakes/fake_script_evaluator.h"
#include "fakes/fake_speech.h"
#include "fakes/recording_console.h"
#include "fakes/temp_home.h"
#include "platform/calendar.h"
#include "platform/file_system.h"
#include "speech/audio_engine.h"

namespace quorvel::testing {

using Scene = std::pair<const char*, const char*>;  // a name and its steps

// The controller's services as every engine test builds them: the real polisher and stores in
// a temporary home, an HTTP client that answers only when told, and a logging console.
struct EngineServices {
  TempHome home;
  RecordingConsole console;
  FakeHttpClient http;
  FakePermissionProvider permissions;
  FailingFileSystem disk{localFileSystem()};
  DeepSeekPolisher polisher{home, disk, http, console};
  HistoryStore history{home, disk};
  UsageStore usage{home, disk, systemCalendar()};

  // A controller on these services that talks to `webView` and `app`.
  std::shared_ptr<AudioEngine> engineOn(MainQueue& queue, SpeechRecognizerFactory& recognizers,
                                        AudioInput& microphone,
                                        std::shared_ptr<ScriptEvaluator> webView,
                                        std::shared_ptr<AppControllerPort> app = nullptr) {
    auto engine = std::make_shared<AudioEngine>(AudioEngineServices{
        queue, recognizers, permissions, microphone, polisher, history, usage, console});
    engine->setWebView(webView);
    engine->setAppDelegate(app);
    return engine;
  }
};

class EngineScript : public ::testing::TestWithParam<Scene>, protected EngineServices {
 protected:
  // Runs one action; false when `verb` is a check.
  bool act(const std::string& verb, const std::string& arg, FakeRecognitionTask& task);
  void check(const std::string& verb, const std::string& arg, FakeRecognitionTask& task);

  FakeMainQueue queue;
  FakeSpeechRecognizerFactory recognizers{queue};
  FakeAudioInput microphone;
  std::shared_ptr<FakeScriptEvaluator> webView = std::make_shared<FakeScriptEvaluator>(queue);
  std::shared_ptr<FakeAppController> app = std::make_shared<FakeAppController>();
  std::shared_ptr<AudioEngine> engine;
  size_t pageAt_ = 0, logAt_ = 0, trayAt_ = 0, micAt_ = 0;
  // Stands in for a task a scene names before there is one: its checks fail, its actions vanish.
  FakeRecognitionTask none_{queue};
};

}  // namespace quorvel::testing

// One table of scenes for one source file's behaviour.
#define ENGINE_SCENES(Suite, ...)                                                           \
  namespace quorvel::testing {                                                              \
  INSTANTIATE_TEST_SUITE_P(Suite, EngineScript,                                             \
                           ::testing::ValuesIn(std::vector<Scene>{__VA_ARGS__}),            \
                           [](const auto& info) { return std::string(info.param.first); }); \
  }
