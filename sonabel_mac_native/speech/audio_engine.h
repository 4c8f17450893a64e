// AudioEngine: the recording controller and the page's "pywebview" message handler.
//
// One instance lives for the whole process. It holds the web view and the application
// controller weakly; every callback the platform keeps for an open-ended time holds the engine
// weakly too, so create it with std::make_shared and never from a raw pointer.
// Members are defined in the files of the areas that own them: speech/ (state, session,
// delivery, locale and hot-key toggle) and web/ (message dispatch, edit-instruction capture).
// Everything but the tap blocks runs on the main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/app_controller.h"
#include "platform/console.h"
#include "platform/main_queue.h"
#include "platform/script_evaluator.h"
#include "platform/speech.h"
#include "polish/deepseek_polisher.h"
#include "speech/audio_accumulator.h"
#include "speech/transcription_client.h"
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

  // The stored speech locale ("en-US" when none is stored or it is not a string), and the one
  // place that stores a choice (for the next launch, also when no engine runs).
  static std::string loadSpeechLocale(const DeepSeekPolisher& polisher);
  static void saveSpeechLocale(const DeepSeekPolisher& polisher, const std::string& identifier);

  // A bridge message from the page, on the main thread. `body` is the posted object converted
  // to JSON (anything that is not an object is ignored).
  void userContentControllerDidReceive(const nlohmann::json& body);

  bool isRecording() const;
  void setSpeechLocale(const std::string& identifier);
  void toggleRecordingFromHotkey();

  // The session (reached from the page through userContentControllerDidReceive).
  void requestPermissionsAndRecord();
  void startRecording();
  void stopRecording(const std::string& mode);
  bool isWaitingForFinal() const { return waitingForFinal_; }

  // Delivery and the page channels.
  void deliverFinalResult();
  void sendTextToFrontend(const std::string& text);
  void sendJSError(const std::string& message);

  // The edit-instruction capture.
  void startEditRecording();
  void stopEditRecording();
  void sendEditResult(const std::optional<std::string>& text,
                      const std::optional<std::string>& error);

 private:
  // Cancels the session's recognition and forgets its text.
  void dropSession();
  // Evaluates a page call on a later turn of the main queue; skipped without a web view.
  void evaluateLater(std::string script);
  // Queues the badge and tool-tip change for the tray item.
  void showRecordingStatusLater(bool recording);
  // Starts the microphone for the capture whose generation is `generation`; the outcome and a
  // later loss come back on the main queue, and only while that capture is still current.
  void startCapture(uint64_t generation, std::function<void(AudioEngine&)> started,
                    std::function<void(AudioEngine&, const std::string&)> failed,
                    std::function<void(AudioEngine&, const std::string&)> lost);
  // A dictation that cannot go on: the user is told, the audio stops, and what was recognised
  // so far is delivered (or the page is put back at rest).
  void failSession(const std::string& logLine, const std::string& message, bool taskEnded);
  // Stops the audio and waits for the session's final result (see stopRecording).
  void endSession(const std::string& mode);
  // One wait for a final result after the audio ended (rule: beginFinalWait).
  struct FinalWait {
    double bound = 3.0;
    double caughtUpFor = 0;  // seconds spent waiting for the recogniser to catch up
    std::function<bool(AudioEngine&)> waiting;
    std::function<std::shared_ptr<RecognitionTask>(AudioEngine&)> task;
    std::function<void(AudioEngine&)> expire;
  };
  void lookForFinal(std::shared_ptr<FinalWait> wait, double delay, double lastBacklog,
                    double stalledFor, bool boundArmed);
  void beginFinalWait(std::shared_ptr<FinalWait> wait);
  void finishEditCapture(const std::weak_ptr<RecognitionRequest>& stoppedRequest,
                         const std::weak_ptr<RecognitionTask>& stoppedTask);
  void handleRecognition(const std::weak_ptr<RecognitionRequest>& from,
                         const std::optional<RecognitionResult>& result,
                         const std::optional<RecognitionError>& error);
  void handleEditRecognition(const std::weak_ptr<RecognitionRequest>& from,
                             const std::optional<RecognitionResult>& result);
  // Replaces whatever tap bus 0 holds: the platform refuses a second tap on one bus. The tap
  // also keeps the audio in `keep` when one is given.
  void installTapFeeding(std::shared_ptr<RecognitionRequest> AudioEngine::*request,
                         std::shared_ptr<AudioAccumulator> keep = nullptr);
  // The transcription server (speech/server_transcription.cpp): at stop the kept audio goes to
  // the server, whose transcript replaces the local final; a failure falls back to the local one.
  void beginServerTranscription();
  void finishServerTranscription(uint64_t generation, std::optional<std::string> text,
                                 std::optional<std::string> failure);
  // True while the server's answer is awaited: the local final is set aside, not delivered.
  bool holdForServer();
  void retryPolish(const std::string& raw, const std::string& mode);
  void llmEdit(const std::string& text, const std::string& instruction,
               std::optional<int64_t> requestId);
  void saveHistory(const std::string& data);

  AudioEngineServices services_;
  AudioInput& avAudioEngine_;

  std::weak_ptr<ScriptEvaluator> webView_;
  std::weak_ptr<AppControllerPort> appDelegate_;
  bool isRecording_ = false;
  std::shared_ptr<SpeechRecognizer> speechRecognizer_;
  // The recogniser each capture started with, held until it has delivered: choosing another
  // language meanwhile replaces speechRecognizer_ but must not end a running task.
  std::shared_ptr<SpeechRecognizer> sessionRecognizer_;
  std::shared_ptr<SpeechRecognizer> editRecognizer_;
  std::shared_ptr<RecognitionRequest> recognitionRequest_;
  std::shared_ptr<RecognitionTask> recognitionTask_;
  std::string accumulatedText_;
  std::string currentSegmentText_;
  bool waitingForFinal_ = false;
  std::string stopMode_;
  std::shared_ptr<RecognitionRequest> editRecognitionRequest_;
  std::shared_ptr<RecognitionTask> editRecognitionTask_;
  std::string editAccumulatedText_;
  // From an edit capture's start to its stop: the microphone is the instruction's, and a
  // dictation may not take it (nor the other way round).
  bool editCapturing_ = false;
  // Counts stops, so that a time-out acts only for the stop that scheduled it.
  uint64_t stopGeneration_ = 0;
  // Counts every start and stop of the microphone: a start's answer or a loss report that
  // arrives for an earlier capture is ignored.
  uint64_t captureGeneration_ = 0;
  // The dictation ended on a failure the user has been told about: an empty final puts the
  // page back at rest instead of reporting that nothing was said.
  bool sessionFailed_ = false;
  bool editWaitingForFinal_ = false;
  uint64_t editStopGeneration_ = 0;
  // The transcription server: its settings and the audio kept for it (from start to stop), and
  // the wait for its answer (from stop to delivery), with the local final once there is one.
  TranscriptionClient transcription_;
  std::optional<TranscriptionSettings> serverSettings_;
  std::shared_ptr<AudioAccumulator> keptAudio_;
  struct ServerWait {
    uint64_t generation = 0;
    std::optional<std::string> localFinal;
  };
  std::optional<ServerWait> serverWait_;
  uint64_t serverGeneration_ = 0;
};

}  // namespace quorvel
