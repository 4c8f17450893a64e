#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "speech/audio_engine.h"
#include "speech/grapheme_count.h"
#include "web/page_calls.h"

namespace quorvel {
namespace {

std::optional<std::string> stringMember(const nlohmann::json& body, const char* name) {
  auto found = body.find(name);
  if (found == body.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

// A whole number sent by the page (the shim numbers its edit requests).
std::optional<int64_t> integerMember(const nlohmann::json& body, const char* name) {
  auto found = body.find(name);
  if (found == body.end() || !found->is_number_integer()) return std::nullopt;
  return found->get<int64_t>();
}

}  // namespace

void AudioEngine::userContentControllerDidReceive(const nlohmann::json& body) {
  if (!body.is_object()) return;
  std::optional<std::string> action = stringMember(body, "action");
  if (!action) return;

  if (*action == "start_recording") {
    // One capture at a time: the running one keeps the microphone.
    if (editCapturing_) {
      services_.console.line(
          "[AudioEngine] recording not started: an edit instruction is being captured");
      return;
    }
    requestPermissionsAndRecord();
  } else if (*action == "stop_recording") {
    stopRecording(stringMember(body, "mode").value_or("Extract"));
  } else if (*action == "save_history") {
    if (auto data = stringMember(body, "data")) saveHistory(*data);
  } else if (*action == "start_edit_recording") {
    startEditRecording();
  } else if (*action == "stop_edit_recording") {
    stopEditRecording();
  } else if (*action == "retry_polish") {
    retryPolish(stringMember(body, "raw").value_or(""),
                stringMember(body, "mode").value_or("Extract"));
  } else if (*action == "llm_edit") {
    llmEdit(stringMember(body, "text").value_or(""), stringMember(body, "instruction").value_or(""),
            integerMember(body, "request_id"));
  } else {
    services_.console.line("[AudioEngine] unhandled action: " + *action);
  }
}

void AudioEngine::saveHistory(const std::string& data) {
  StoreWrite written = services_.history.save(data);
  reportStoreWrite(services_.console, "[AudioEngine] ", services_.history.historyFile(), written);
  if (!written.error.empty()) evaluateLater(page::historyNotSaved());
}

void AudioEngine::retryPolish(const std::string& raw, const std::string& mode) {
  // A retry never counts usage: only a dictation's final result does. A failed one shows the
  // raw text again and says why.
  services_.polisher.polish(
      raw, mode,
      [weak = weak_from_this(), raw, mode](std::optional<std::string> polished,
                                           std::optional<ChatError> error) {
        auto self = weak.lock();
        if (!self) return;
        std::optional<std::string> reason;
        if (!polished) reason = DeepSeekPolisher::failureReason(error);
        self->evaluateLater(page::updateResult(raw, polished ? *polished : raw, mode, reason));
      });
}

void AudioEngine::llmEdit(const std::string& text, const std::string& instruction,
                          std::optional<int64_t> requestId) {
  Console& console = services_.console;
  console.line("[AudioEngine] llm_edit: text=" + firstCharacters(text, 50) +
               "... instruction=" + instruction);
  MainQueue& mainQueue = services_.mainQueue;
  services_.polisher.edit(
      text, instruction,
      [weak = weak_from_this(), &mainQueue, &console, requestId](std::optional<std::string> edited,
                                                                 std::optional<ChatError> error) {
        mainQueue.async([weak, &console, requestId, edited = std::move(edited),
                         error = std::move(error)] {
          auto self = weak.lock();
          auto webView = self ? self->webView_.lock() : nullptr;
          if (edited) {
            console.line("[AudioEngine] llm_edit success: " + firstCharacters(*edited, 50) + "...");
            if (webView) webView->evaluate(page::resolveLlmEditResult(*edited, requestId));
            return;
          }
          // The console keeps the whole description; the page shows the few words of why.
          console.line("[AudioEngine] llm_edit error: " +
                       (error ? error->description : std::string("Edit failed")));
          if (webView) {
            webView->evaluate(
                page::resolveLlmEditError(DeepSeekPolisher::failureReason(error), requestId));
          }
        });
      });
}

}  // namespace quorvel
