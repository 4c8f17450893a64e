// AudioEngine: the recording controller and the page's "pywebview" message handler.
//
// One instance lives for the whole process. It holds the web view and the application
// controller weakly; every callback the platform keeps for an open-ended time holds the engine
// weakly too, so create it with std::make_shared and never from a raw pointer.
// Members are defined in the files of the areas that own them: speech/ (state, session,
// delivery, locale and hot-key toggle) and web/ (message dispatch, edit-instruction capture).
#pragma once

#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/app_controller.h"
#include "platform/console.h"
#include "platform/main_queue.h"
#include "platform/script_evaluator.h"
#include "platform/speech.h"
#include "polish/deepseek_polisher.h"
#include "store/history_store.h"
#include "store/usage_store.h"

namespace quorvel {

struct AudioEngineServices {
  MainQueue& mainQueue;
  SpeechRecognizerFactory& recognizers;
  PermissionProvider& permissions;
  AudioInput& audioInput;  // the one audio input of the process
  DeepSeekPolisher& polisher;
  HistoryStore& history;
  UsageStore& usage;
  Console& console;
};

class AudioEngine : public std::enable_shared_from_this<AudioEngine> {
 public:
  explicit AudioEngine(AudioEngineServices services);
  ~AudioEngine();
  AudioEngine(const AudioEngine&) = delete;
  AudioEngine& operator=(const AudioEngine&) = delete;

  void setWebView(std::weak_ptr<ScriptEvaluator> webView);
  void setAppDelegate(std::weak_ptr<AppControllerPort> appDelegate);

  // The stored speech locale ("en-US" when none is stored or it is not a string).
  static std::string loadSpeechLocale(const DeepSeekPolisher& polisher);

  // A bridge message from the page, on the main thread. `body` is the posted object converted
  // to JSON (anything that is not an object is ignored).
  void userContentControllerDidReceive(const nlohmann::json& body);

  bool isRecording() const;
  void setSpeechLocale(const std::string& identifier);
  void toggleRecordingFromHotkey();

  // The rest of the public surface (the session, delivery and edit capture) is declared in the
  // private section below and reached through userContentControllerDidReceive.
 private:
  struct State;
  std::unique_ptr<State> state_;
  AudioEngineServices services_;
};

}  // namespace quorvel
