// Builds a recording controller on fakes: a virtual-clock main queue, scripted permissions,
// recognisers, microphone, web view and tray, and the real polisher and stores in a temporary
// home whose HTTP client answers only when the test says so.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

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
#include "web/page_calls.h"

namespace quorvel::testing {

// Page calls written out in full, for messages and texts that need no escaping.
inline std::string errorCall(const std::string& message) {
  return "console.error('[Native] " + message + "'); alert('" + message + "');";
}
inline std::string speechEvent(const std::string& text) {
  return "window.dispatchEvent(new CustomEvent('speech_result', {detail: '" + text + "'}))";
}
inline std::string rawCall(const std::string& raw, const std::string& mode) {
  return "if(typeof showRawAndStartPolish==='function'){showRawAndStartPolish('" + raw + "','" +
         mode + "');}";
}
inline std::string resultCall(const std::string& raw, const std::string& polished,
                              const std::string& mode) {
  return "updateResult('" + raw + "', '" + polished + "', '" + mode + "');";
}
// Its bytes are checked where it is built; here it only matters that the engine sends it.
inline const std::string& noSpeechResetScript() {
  return page::noSpeechReset();
}

class EngineHarness : public ::testing::Test {
 protected:
  TempHome home;
  FakeMainQueue queue;
  RecordingConsole console;
  FakeHttpClient http;
  FixedCalendar calendar{"2026-12-06"};
  FakePermissionProvider permissions;
  FakeSpeechRecognizerFactory recognizers{queue};
  bool englishSupported = (recognizers.support("en-US"), true);
  FakeAudioInput microphone;
  DeepSeekPolisher polisher{home, localFileSystem(), http, console};
  HistoryStore history{home, localFileSystem()};
  UsageStore usage{home, localFileSystem(), calendar};
  std::shared_ptr<FakeScriptEvaluator> webView = std::make_shared<FakeScriptEvaluator>(queue);
  std::shared_ptr<FakeAppController> app = std::make_shared<FakeAppController>();
  std::shared_ptr<AudioEngine> engine;

  void SetUp() override { engine = makeEngine(); }

  std::shared_ptr<AudioEngine> makeEngine() {
    auto made = std::make_shared<AudioEngine>(AudioEngineServices{
        queue, recognizers, permissions, microphone, polisher, history, usage, console});
    made->setWebView(webView);
    made->setAppDelegate(app);
    return made;
  }

  void send(const nlohmann::json& body) { engine->userContentControllerDidReceive(body); }
  void startFromPage() { send({{"action", "start_recording"}}); }
  void stopFromPage(const std::string& mode) {
    send({{"action", "stop_recording"}, {"mode", mode}});
  }
  // Runs the main queue until nothing is due now.
  void settle() { queue.runUntilIdle(); }

  // The en-US recogniser the engine made last (the one its sessions use).
  std::shared_ptr<FakeSpeechRecognizer> english() const { return recognizers.latest("en-US"); }

  // The locale of a recogniser the fake factory made ("" for none).
  static std::string localeOf(const SpeechRecognizer* recognizer) {
    auto* fake = dynamic_cast<const FakeSpeechRecognizer*>(recognizer);
    return fake ? fake->locale : "";
  }

  std::shared_ptr<FakeRecognitionTask> lastTask() const {
    auto recognizer = english();
    return !recognizer || recognizer->tasks.empty() ? nullptr : recognizer->tasks.back();
  }

  // Starts a session from the page with both permissions granted and clears the records.
  std::shared_ptr<FakeRecognitionTask> recording() {
    startFromPage();
    settle();
    clearRecords();
    return lastTask();
  }

  void clearRecords() {
    webView->clear();
    app->calls.clear();
    console.clear();
    microphone.log.clear();
  }

  // Answers the oldest pending chat request with a polished text.
  void polishReply(const std::string& content) {
    http.reply(0, 200, nlohmann::json{{"choices", {{{"message", {{"content", content}}}}}}}.dump());
  }

  nlohmann::json usageRecord() const { return usage.load(); }

  std::vector<std::string> lines() const { return console.lines(); }
};

}  // namespace quorvel::testing
