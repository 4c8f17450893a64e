// Any JSON the page could post, one message or an array of them, through the real message
// handler with the recording controller, polisher and stores on fakes. Between messages the
// target plays the outside world from members the handler itself never reads: "_partial" and
// "_final" give the recogniser's results, "_reply" answers every pending chat request, and the
// clock then moves past every time-out. Whatever arrives, every page call sent must be a script
// whose literals are valid JavaScript.
#include <cassert>
#include <cstdint>
#include <memory>
#include <string>

#include "fakes/fake_app_controller.h"
#include "fakes/fake_audio_input.h"
#include "fakes/fake_main_queue.h"
#include "fakes/fake_script_evaluator.h"
#include "fakes/fake_speech.h"
#include "fuzz/fuzz_services.h"
#include "fuzz/js_string_literal.h"
#include "speech/audio_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorvel;
  using namespace quorvel::testing;
  auto messages = nlohmann::json::parse(data, data + size, nullptr, /*allow_exceptions=*/false);
  if (messages.is_discarded() || (messages.is_array() && messages.size() > 64)) return 0;
  if (!messages.is_array()) messages = nlohmann::json::array({messages});

  FuzzServices s;
  FakeMainQueue queue;
  FakePermissionProvider permissions;
  FakeSpeechRecognizerFactory recognizers{queue};
  recognizers.support("en-US");
  FakeAudioInput microphone;
  auto webView = std::make_shared<FakeScriptEvaluator>(queue);
  auto app = std::make_shared<FakeAppController>();
  auto engine = std::make_shared<AudioEngine>(AudioEngineServices{
      queue, recognizers, permissions, microphone, s.polisher, s.history, s.usage, s.console});
  engine->setWebView(webView);
  engine->setAppDelegate(app);

  for (const auto& message : messages) {
    engine->userContentControllerDidReceive(message);
    queue.runUntilIdle();
    auto member = [&](const char* name) {
      auto found = message.is_object() ? message.find(name) : message.end();
      return found != message.end() && found->is_string() ? found->get<std::string>() : "";
    };
    auto english = recognizers.latest("en-US");
    if (english && !english->tasks.empty()) {
      if (!member("_partial").empty()) english->tasks.back()->partial(member("_partial"));
      if (!member("_final").empty()) english->tasks.back()->final(member("_final"));
    }
    queue.runUntilIdle();
    while (!member("_reply").empty() && s.http.pending() > 0)
      s.http.reply(0, 200, member("_reply"));
    queue.advance(5.0);
  }
  while (s.http.pending() > 0) s.http.fail(0, "offline");
  queue.advance(5.0);

  for (const auto& script : webView->scripts) assert(splitLiterals(script).has_value());
  return 0;
}
