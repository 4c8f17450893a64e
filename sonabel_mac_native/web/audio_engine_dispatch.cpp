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

}  // namespace

void AudioEngine::userContentControllerDidReceive(const nlohmann::json& body) {
  if (!body.is_object()) return;
  std::optional<std::string> action = stringMember(body, "action");
  if (!action) return;

  if (*action == "start_recording") {
    requestPermissionsAndRecord();
  } else if (*action == "stop_recording") {
    stopRecording(stringMember(body, "mode").value_or("Extract"));
  } else if (*action == "save_history") {
    if (auto data = stringMember(body, "data")) services_.history.save(*data);
  } else if (*action == "start_edit_recording") {
    startEditRecording();
  } else if (*action == "stop_edit_recording") {
    stopEditRecording();
  } else if (*action == "retry_polish") {
    retryPolish(stringMember(body, "raw").value_or(""),
                stringMember(body, "mode").value_or("Extract"));
  } else if (*action == "llm_edit") {
    llmEdit(stringMember(body, "text").value_or(""),
            stringMember(body, "instruction").value_or(""));
  } else {
    services_.console.line("[AudioEngine] unhandled action: " + *action);
  }
}

void AudioEngine::retryPolish(const std::string& raw, const std::string& mode) {
  // A retry never counts usage: only a dictation's final result does.
  services_.polisher.polish(raw, mode,
                            [weak = weak_from_this(), raw, mode](
                                std::optional<std::string> polished, std::optional<ChatError>) {
                              auto self = weak.lock();
                              if (!self) return;
                              std::string call =
                                  page::updateResult(raw, polished ? *polished : raw, mode);
                              self->evaluateLater(std::move(call));
                            });
}

void AudioEngine::llmEdit(const std::string& text, const std::string& instruction) {
  Console& console = services_.console;
  console.line("[AudioEngine] llm_edit: text=" + firstCharacters(text, 50) +
               "... instruction=" + instruction);
  MainQueue& mainQueue = services_.mainQueue;
  services_.polisher.edit(
      text, instruction,
      [weak = weak_from_this(), &mainQueue, &console](std::optional<std::string> edited,
                                                      std::optional<ChatError> error) {
        mainQueue.async([weak, &console, edited = std::move(edited), error = std::move(error)] {
          auto self = weak.lock();
          auto webView = self ? self->webView_.lock() : nullptr;
          if (edited) {
            console.line("[AudioEngine] llm_edit success: " + firstCharacters(*edited, 50) + "...");
            if (webView) webView->evaluate(page::resolveLlmEditResult(*edited));
            return;
          }
          std::string message = error ? error->description : "Edit failed";
          console.line("[AudioEngine] llm_edit error: " + message);
          if (webView) webView->evaluate(page::resolveLlmEditError(message));
        });
      });
}

}  // namespace quorvel
