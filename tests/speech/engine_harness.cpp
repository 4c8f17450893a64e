#include "speech/engine_harness.h"

#include <thread>
#include <utility>

namespace quorvel::testing {

void EngineScript::play(const Scene& scene) {
  recognizers.support("en-US");
  engine = makeEngine();
  const std::string line = scene.steps;
  for (size_t at = 0; at <= line.size();) {
    size_t end = std::min(line.find(" | ", at), line.size());
    std::string step = line.substr(at, end - at);
    at = end + 3;
    if (step.empty()) continue;
    SCOPED_TRACE(step);
    size_t task = recognizers.tasks.empty() ? 0 : recognizers.tasks.size() - 1;
    if (step[0] == '#') {
      task = std::stoul(step.substr(1));
      step = step.substr(step.find(' ') + 1);
    }
    std::string verb = step.substr(0, step.find(' '));
    std::string arg = verb.size() < step.size() ? step.substr(verb.size() + 1) : "";
    bool settle = verb.back() != '!';
    if (!settle) verb.pop_back();
    checking_ = false;
    act(verb, arg, task < recognizers.tasks.size() ? recognizers.tasks[task].get() : &none_);
    if (settle && !checking_) queue.runUntilIdle();
  }
}

// Each step's action or check; `arg` is the rest of the step, `task` the task it names.
void EngineScript::act(const std::string& verb, const std::string& arg, FakeRecognitionTask* task) {
  auto chat = [](const std::string& text) {
    return nlohmann::json{{"choices", {{{"message", {{"content", text}}}}}}}.dump();
  };
  auto action = [&](const char* name) { send({{"action", name}}); };
  if (verb == "start") return action("start_recording");
  if (verb == "stop" && arg.empty()) return action("stop_recording");
  if (verb == "stop") return send({{"action", "stop_recording"}, {"mode", arg}});
  if (verb == "send") return send(nlohmann::json::parse(arg));
  if (verb == "edit") return action("start_edit_recording");
  if (verb == "editstop") return action("stop_edit_recording");
  if (verb == "partial") return task->partial(arg);
  if (verb == "final") return task->final(arg);
  if (verb == "fail") return task->fail(arg);
  if (verb == "late") return task->post(RecognitionResult{arg, true}, {});
  if (verb == "lateerror") return task->post({}, RecognitionError{arg});
  if (verb == "backlog") return void(task->backlog = std::stod(arg));
  if (verb == "push") return same(microphone.push(), true);
  if (verb == "threadpush") return std::thread([&] { same(microphone.push(), true); }).join();
  if (verb == "nopush") return same(microphone.push(), false);
  if (verb == "advance") return void(queue.advance(std::stod(arg)));
  if (verb == "run") return;
  if (verb == "reply") return http.reply(0, 200, chat(arg));
  if (verb == "workerreply") return std::thread([&] { http.reply(0, 200, chat(arg)); }).join();
  if (verb == "httpfail") return http.fail(0, arg);
  if (verb == "httpreply") return http.reply(0, std::stoi(arg), arg.substr(arg.find(' ') + 1));
  if (verb == "httptimeout") {
    HttpResult timedOut{"timed out", std::nullopt, std::nullopt};
    timedOut.failure = HttpFailure::Timeout;
    return http.answer(0, timedOut);
  }
  if (verb == "lose") return microphone.loseCapture(arg);
  if (verb == "micfail") return void(microphone.startFailure = arg);
  if (verb == "micok") return microphone.startFailure.reset();
  if (verb == "hold") return void(microphone.holdStartAnswer = true);
  if (verb == "answer") return microphone.answerStart();
  if (verb == "locale") return engine->setSpeechLocale(arg);
  if (verb == "support") return recognizers.support(arg);
  if (verb == "config") return home.put("config.json", arg);
  if (verb == "new") return void(engine = makeEngine());
  if (verb == "gone") return engine.reset();
  if (verb == "noview") return engine->setWebView({});
  if (verb == "noapp") return engine->setAppDelegate({});
  if (verb == "hotkey") return engine->toggleRecordingFromHotkey();
  if (verb == "unavailable") return void(recognizers.latest("en-US")->available = false);
  if (verb == "diskfull") return void(disk.failWrites = true);
  if (verb == "evalfail") return void(webView->failWith = arg);
  // Permission statuses by their raw values: not determined (asked, and granted or refused at
  // the prompt), then speech's denied, restricted and microphone's restricted, denied.
  const std::vector<std::string> speechNames = {"ask", "denied", "restricted", "granted"};
  const std::vector<std::string> microphoneNames = {"ask", "restricted", "denied", "granted"};
  auto rawOf = [&](const std::vector<std::string>& names) {
    return arg == "refuse" ? 0 : static_cast<int>(find(names, 0, "=" + arg));
  };
  if (verb == "speech") {
    permissions.userGrantsSpeech = arg != "refuse";
    return void(permissions.speech = static_cast<SpeechAuthorization>(rawOf(speechNames)));
  }
  if (verb == "microphone") {
    permissions.userGrantsMicrophone = arg != "refuse";
    return void(permissions.microphone =
                    static_cast<MicrophoneAuthorization>(rawOf(microphoneNames)));
  }
  if (verb == "holdanswers") return void(permissions.holdAnswers = true);
  if (verb == "answers") return std::thread([&] { permissions.answerPending(); }).join();
  if (verb == "mark") {
    pageAt_ = webView->scripts.size(), logAt_ = console.lines().size();
    return void((trayAt_ = app->calls.size(), micAt_ = microphone.log.size()));
  }
  // Checks: they leave the main queue alone.
  checking_ = true;
  const auto& pages = webView->scripts;
  const auto lines = console.lines();
  if (verb == "page") return expectFound(pages, pageAt_, arg);
  if (verb == "nopage") return same(joined(pages, find(pages, pageAt_, arg)), "");
  if (verb == "quiet") return same(joined(pages, pageAt_), "");
  if (verb == "log") return expectFound(lines, logAt_, arg);
  if (verb == "nolog") return same(joined(lines, find(lines, logAt_, arg)), "");
  if (verb == "nomic") return same(joined(microphone.log, find(microphone.log, 0, arg)), "");
  if (verb == "tray")
    return same(joined(app->calls, std::exchange(trayAt_, app->calls.size())), arg);
  if (verb == "mic") {
    const auto& log = microphone.log;
    return same(joined(log, std::exchange(micAt_, log.size())), arg);
  }
  if (verb == "state") {
    return same(std::string(engine->isRecording()         ? "recording"
                            : engine->isWaitingForFinal() ? "waiting"
                                                          : "idle"),
                arg);
  }
  if (verb == "sent") return same(http.sent().size(), std::stoul(arg));
  if (verb == "pending") return same(http.pending(), std::stoul(arg));
  if (verb == "usage") {
    auto record = usage.load();
    return same(std::to_string(record.value("total_chars", 0)) + " " +
                    std::to_string(record.value("total_sessions", 0)),
                arg);
  }
  if (verb == "buffers") return same(task->request->buffers.load(), std::stoul(arg));
  if (verb == "ended") return same(task->request->endAudioCalls, std::stoi(arg));
  if (verb == "cancelled") return same(task->cancelled, arg == "1");
  if (verb == "history") return same(history.load().value_or("none"), arg);
  const std::string body = http.sent().empty() ? "" : http.sent().back().body.value_or("");
  if (verb == "body") return same(body.find(arg) != std::string::npos, true);
  if (verb == "wavbytes") {
    uint32_t bytes = 0;
    for (size_t at = body.find("RIFF") + 43; at > body.find("RIFF") + 39; --at) {
      bytes = bytes << 8 | static_cast<uint8_t>(body[at]);
    }
    return same(bytes, std::stoul(arg));
  }
  if (verb == "prompts") return same(joined(permissions.prompts, 0), arg);
  if (verb == "stored") return same(AudioEngine::loadSpeechLocale(polisher), arg);
  if (verb == "configholds")
    return same(polisher.readConfig().dump().find(arg) != std::string::npos, true);
  if (verb == "recognizer") {
    auto held = recognizers.latest(arg.substr(0, arg.find(' ')));
    return same(held ? std::to_string(held->tasks.size()) : "none", arg.substr(arg.find(' ') + 1));
  }
  ADD_FAILURE() << "no step " << verb;
}

}  // namespace quorvel::testing
