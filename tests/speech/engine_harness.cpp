#include "speech/engine_harness.h"

#include <functional>
#include <map>
#include <thread>
#include <tuple>
#include <utility>

namespace quorvel::testing {
namespace {

std::string joined(const std::vector<std::string>& all, size_t from) {
  std::string out;
  for (size_t i = from; i < all.size(); ++i) out += (i > from ? "," : "") + all[i];
  return out;
}

// The first entry from `from` on that holds `text` ("=<text>": that is `text`), or all.size().
size_t find(const std::vector<std::string>& all, size_t from, const std::string& text) {
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

template <class Actual, class Expected>
void same(const Actual& actual, const Expected& expected) {
  EXPECT_EQ(actual, expected);
}

}  // namespace

// Runs the scene's steps in order.
TEST_P(EngineScript, plays) {
  recognizers.support("en-US");
  engine = engineOn(queue, recognizers, microphone, webView, app);
  const std::string steps = GetParam().second + std::string(" | ");
  for (size_t at = 0, end; (end = steps.find(" | ", at)) != std::string::npos; at = end + 3) {
    std::string step = steps.substr(at, end - at);
    SCOPED_TRACE(step);
    // The newest task, or the n-th one; "none" while there is no such task.
    size_t task = step[0] == '#' ? std::stoul(step.substr(1)) : recognizers.tasks.size() - 1;
    if (step[0] == '#') step.erase(0, step.find(' ') + 1);
    std::string verb = step.substr(0, step.find(' '));
    const std::string arg = step.substr(std::min(step.size(), verb.size() + 1));
    const bool settle = verb.back() != '!';
    if (!settle) verb.pop_back();
    auto& named = task < recognizers.tasks.size() ? *recognizers.tasks[task] : none_;
    if (!act(verb, arg, named)) {
      check(verb, arg, named);
    } else if (settle) {
      queue.runUntilIdle();
    }
  }
}

bool EngineScript::act(const std::string& verb, const std::string& arg, FakeRecognitionTask& task) {
  auto send = [&](const char* action) {  // with the argument as its mode, when there is one
    nlohmann::json body = {{"action", action}};
    if (!arg.empty()) body["mode"] = arg;
    engine->userContentControllerDidReceive(body);
  };
  static const std::vector<int16_t> block(4096, 1000);
  auto reply = [&] {
    http.reply(0, 200,
               R"({"choices":[{"message":{"content":)" + nlohmann::json(arg).dump() + "}}]}");
  };
  const std::map<std::string, std::function<void()>> actions = {
      {"start", [&] { send("start_recording"); }},
      {"stop", [&] { send("stop_recording"); }},
      {"send", [&] { engine->userContentControllerDidReceive(nlohmann::json::parse(arg)); }},
      {"edit", [&] { send("start_edit_recording"); }},
      {"editstop", [&] { send("stop_edit_recording"); }},
      {"partial", [&] { task.partial(arg); }},
      {"final", [&] { task.final(arg); }},
      {"fail", [&] { task.fail(arg); }},
      {"backlog", [&] { task.backlog = std::stod(arg); }},
      {"push", [&] { EXPECT_TRUE(microphone.pushSamples(block.data(), block.size())); }},
      {"nopush", [&] { EXPECT_FALSE(microphone.pushSamples(block.data(), block.size())); }},
      {"advance", [&] { queue.advance(std::stod(arg)); }},
      {"run", [] {}},
      {"reply", reply},
      {"workerreply", [&] { std::thread(reply).join(); }},
      {"httpfail", [&] { http.fail(0, arg); }},
      {"httpreply", [&] { http.reply(0, std::stoi(arg), arg.substr(arg.find(' ') + 1)); }},
      {"lose", [&] { microphone.loseCapture(arg); }},
      {"micfail", [&] { microphone.startFailure = arg; }},
      {"micok", [&] { microphone.startFailure.reset(); }},
      {"config", [&] { home.put("config.json", arg); }},
      {"new", [&] { engine = engineOn(queue, recognizers, microphone, webView, app); }},
      {"gone", [&] { engine.reset(); }},
      {"hotkey", [&] { engine->toggleRecordingFromHotkey(); }},
      {"unavailable", [&] { recognizers.latest("en-US")->available = false; }},
      {"diskfull", [&] { disk.failWrites = true; }},
      {"mark",
       [&] {
         std::tie(pageAt_, logAt_, trayAt_, micAt_) =
             std::tuple(webView->scripts.size(), console.lines().size(), app->calls.size(),
                        microphone.log.size());
       }},
  };
  auto found = actions.find(verb);
  if (found == actions.end()) return false;
  found->second();
  return true;
}

// Checks leave the main queue alone.
void EngineScript::check(const std::string& verb, const std::string& arg,
                         FakeRecognitionTask& task) {
  const auto& pages = webView->scripts;
  const auto lines = console.lines();
  const auto& mic = microphone.log;
  const std::string body = http.sent().empty() ? "" : http.sent().back().body.value_or("");
  if (verb == "page") return expectFound(pages, pageAt_, arg);
  if (verb == "nopage") return same(joined(pages, find(pages, pageAt_, arg)), "");
  if (verb == "quiet") return same(joined(pages, pageAt_), "");
  if (verb == "log") return expectFound(lines, logAt_, arg);
  if (verb == "nolog") return same(joined(lines, find(lines, logAt_, arg)), "");
  if (verb == "nomic") return same(joined(mic, find(mic, 0, arg)), "");
  if (verb == "tray")
    return same(joined(app->calls, std::exchange(trayAt_, app->calls.size())), arg);
  if (verb == "mic") return same(joined(mic, std::exchange(micAt_, mic.size())), arg);
  if (verb == "state") {
    const char* states[] = {"idle", "waiting", "recording"};
    return same(std::string(states[engine->isRecording() ? 2 : engine->isWaitingForFinal()]), arg);
  }
  if (verb == "sent") return same(http.sent().size(), std::stoul(arg));
  if (verb == "pending") return same(http.pending(), std::stoul(arg));
  if (verb == "usage") {
    return same(std::to_string(usage.load().value("total_chars", 0)) + " " +
                    std::to_string(usage.load().value("total_sessions", 0)),
                arg);
  }
  if (verb == "buffers") return same(task.buffers.load(), std::stoul(arg));
  if (verb == "ended") return same(task.endAudioCalls.load(), std::stoi(arg));
  if (verb == "cancelled") return same(task.cancelled, arg == "1");
  if (verb == "history") return same(history.load().value_or("none"), arg);
  if (verb == "body") return same(body.find(arg) != std::string::npos, true);
  ADD_FAILURE() << "no step " << verb;
}

}  // namespace quorvel::testing
