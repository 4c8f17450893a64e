#include "speech/transcription_client.h"

#include <cctype>
#include <cstdio>
#include <random>

#include "polish/request_url.h"
#include "speech/wav_file.h"
#include "store/ascii.h"
#include "store/utf8.h"

namespace quorvel {

namespace {

std::optional<std::string> configuredString(const nlohmann::json& config, const char* key) {
  auto it = config.find(key);
  if (it == config.end() || !it->is_string() || it->get_ref<const std::string&>().empty()) {
    return std::nullopt;
  }
  return it->get<std::string>();
}

// 128 random bits: the chance that recorded audio holds the delimiter by accident is nil.
std::string randomBoundary() {
  std::random_device source;
  std::string boundary = "quorvel-";
  static const char* digits = "0123456789abcdef";
  for (int i = 0; i < 4; ++i) {
    uint32_t word = source();
    for (int k = 0; k < 8; ++k) boundary += digits[(word >> (4 * k)) & 0xF];
  }
  return boundary;
}

void appendField(std::string& body, const std::string& boundary, const std::string& name,
                 const std::string& value) {
  body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n";
  body += value;
  body += "\r\n";
}

std::optional<std::string> replyText(const std::optional<std::string>& body) {
  if (!body) return std::nullopt;
  auto reply = nlohmann::json::parse(*body, nullptr, /*allow_exceptions=*/false);
  if (!reply.is_object()) return std::nullopt;
  auto text = reply.find("text");
  if (text == reply.end() || !text->is_string()) return std::nullopt;
  return trimWhitespace(text->get<std::string>());
}

std::string megabytes(double bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f MB", bytes / 1e6);
  return text;
}

}  // namespace

TranscriptionClient::TranscriptionClient(const DeepSeekPolisher& config, HttpClient& http,
                                         Console& console)
    : config_(config), http_(http), console_(console) {}

std::optional<TranscriptionSettings> TranscriptionClient::settings() const {
  auto config = config_.readConfig();
  auto url = configuredString(config, "transcription_url");
  if (!url) return std::nullopt;
  return TranscriptionSettings{
      *url, configuredString(config, "transcription_api_key"),
      configuredString(config, "transcription_model").value_or(defaultModel)};
}

std::string TranscriptionClient::languageOf(const std::string& localeIdentifier) {
  std::string language = localeIdentifier.substr(0, localeIdentifier.find_first_of("-_"));
  if (language.size() != 2) return {};
  for (char c : language) {
    if (!std::isalpha(static_cast<unsigned char>(c))) return {};
  }
  return asciiLowerCase(language);
}

void TranscriptionClient::fail(const std::string& line, const std::string& reason,
                               const TranscriptionCompletion& done) const {
  console_.line("[Transcription] " + line);
  done(std::nullopt, reason);
}

void TranscriptionClient::transcribe(const TranscriptionSettings& settings,
                                     const AudioAccumulator& audio,
                                     const std::string& localeIdentifier,
                                     TranscriptionCompletion done) const {
  if (auto why = urlRefusal(http_, settings.url)) {
    fail("request not sent to " + settings.url + " (transcription_url in config.json): " + *why,
         "the transcription_url in config.json cannot be used: " + *why, done);
    return;
  }
  auto parsed = http_.parseURL(settings.url);
  if (!parsed) {
    fail("request not sent: transcription_url in config.json is not a URL (" + settings.url + ")",
         "the transcription_url in config.json is not a URL", done);
    return;
  }
  if (settings.apiKey && hasControlCharacter(*settings.apiKey)) {
    fail(
        "transcription_api_key in config.json is malformed (it holds a line break or another "
        "control character); request not sent",
        "the transcription_api_key in config.json is malformed", done);
    return;
  }
  if (audio.overflowed()) {
    std::string limit = megabytes(static_cast<double>(AudioAccumulator::kMaxFileBytes));
    fail("recording is over the " + limit + " upload limit; request not sent",
         "the recording is over the " + limit + " the server accepts", done);
    return;
  }

  std::string boundary = randomBoundary();
  std::string language = languageOf(localeIdentifier);
  HttpRequest request;
  request.url = settings.url;
  request.method = "POST";
  request.timeoutSeconds = timeoutSeconds(audio.seconds());
  request.headers.emplace_back("Content-Type", "multipart/form-data; boundary=" + boundary);
  request.headers.emplace_back("Accept", "application/json");
  if (settings.apiKey) request.headers.emplace_back("Authorization", "Bearer " + *settings.apiKey);

  std::string body;
  body.reserve(audio.sampleCount() * 2 + kWavHeaderBytes + 1024);
  body += "--" + boundary +
          "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"audio.wav\"\r\n"
          "Content-Type: audio/wav\r\n\r\n";
  appendWavFile(body, audio);
  body += "\r\n";
  appendField(body, boundary, "model", settings.model);
  if (!language.empty()) appendField(body, boundary, "language", language);
  appendField(body, boundary, "response_format", "json");
  body += "--" + boundary + "--\r\n";
  request.body = std::move(body);

  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f", audio.seconds());
  console_.line("[Transcription] sending " + std::string(seconds) + " s of audio to " +
                parsed->host);
  Console& console = console_;
  http_.send(std::move(request), [&console, done = std::move(done)](HttpResult result) {
    if (result.error) {
      console.line("[Transcription] request failed: " + *result.error);
      done(std::nullopt, *result.error);
      return;
    }
    long status = result.status.value_or(0);
    if (status < 200 || status > 299) {
      console.line("[Transcription] server answered with status " + std::to_string(status));
      done(std::nullopt, "the server answered with status " + std::to_string(status));
      return;
    }
    auto text = replyText(result.body);
    if (!text) {
      console.line("[Transcription] reply holds no string \"text\"");
      done(std::nullopt, "the server's reply held no transcript");
      return;
    }
    console.line("[Transcription] transcript received");
    done(std::move(text), std::nullopt);
  });
}

}  // namespace quorvel
