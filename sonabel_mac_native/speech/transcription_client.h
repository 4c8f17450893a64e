// TranscriptionClient: sends a finished dictation's audio to an OpenAI-compatible
// transcription server ("transcription_url" in config.json) and reads back its text.
//
// Settings are read anew from config.json for every dictation. A request goes out as
// multipart/form-data (the audio as a WAV file, the model, the language and
// response_format "json"); the reply's "text", trimmed, is the transcript. Neither the key nor
// the audio is ever written to the console.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/console.h"
#include "platform/http_client.h"
#include "polish/deepseek_polisher.h"
#include "speech/audio_accumulator.h"

namespace quorvel {

struct TranscriptionSettings {
  std::string url;
  std::optional<std::string> apiKey;
  std::string model;
};

// Called once, with the transcript or with a short reason for the user. It runs on the HTTP
// worker thread, or synchronously before transcribe() returns when nothing is sent: a refused
// URL or key, an unparseable URL, or audio over the size limit.
using TranscriptionCompletion =
    std::function<void(std::optional<std::string> text, std::optional<std::string> failure)>;

class TranscriptionClient {
 public:
  static constexpr const char* defaultModel = "whisper-1";

  TranscriptionClient(const DeepSeekPolisher& config, HttpClient& http, Console& console);

  // The configured server, or nullopt when "transcription_url" is missing, empty or no string.
  std::optional<TranscriptionSettings> settings() const;

  void transcribe(const TranscriptionSettings& settings, const AudioAccumulator& audio,
                  const std::string& localeIdentifier, TranscriptionCompletion done) const;

  // The two-letter language of a locale ("en-US" -> "en", "zh-Hans" -> "zh"); empty when the
  // identifier starts with no two-letter language, and the server then detects it.
  static std::string languageOf(const std::string& localeIdentifier);
  // How long a transcription of that much audio may take in all: 10 s + 0.5 s per second.
  static double timeoutSeconds(double audioSeconds) { return 10.0 + 0.5 * audioSeconds; }

 private:
  void fail(const std::string& line, const std::string& reason,
            const TranscriptionCompletion& done) const;

  const DeepSeekPolisher& config_;
  HttpClient& http_;
  Console& console_;
};

}  // namespace quorvel
