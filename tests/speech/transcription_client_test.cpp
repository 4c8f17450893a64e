// The transcription client against a real loopback server through the libcurl client.
#include "speech/transcription_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "fakes/loopback_http_server.h"
#include "fakes/recording_console.h"
#include "fakes/temp_home.h"
#include "platform/linux/system/curl_http_client.h"

namespace quorvel {
namespace {

using namespace quorvel::testing;
using Reply = LoopbackHttpServer::Reply;

// Catches the one call of a transcription completion, from whatever thread.
class Outcome {
 public:
  TranscriptionCompletion completion() {
    return [this](std::optional<std::string> text, std::optional<std::string> failure) {
      std::lock_guard lock(mutex_);
      ++calls;
      this->text = std::move(text);
      this->failure = std::move(failure);
      called_.notify_all();
    };
  }
  bool wait() {
    std::unique_lock lock(mutex_);
    return called_.wait_for(lock, std::chrono::seconds(20), [&] { return calls > 0; });
  }
  int calls = 0;
  std::optional<std::string> text;
  std::optional<std::string> failure;

 private:
  std::mutex mutex_;
  std::condition_variable called_;
};

uint32_t le(const std::string& bytes, size_t at, int width) {
  uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i)
    value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

class TranscriptionClientTest : public ::testing::Test {
 protected:
  void configure(const nlohmann::json& config) { home.put("config.json", config.dump()); }

  // Audio whose samples count up, so order and completeness show in the file.
  AudioAccumulator capture(size_t samples, size_t maxFileBytes = AudioAccumulator::kMaxFileBytes) {
    AudioAccumulator audio(AudioFormat{16000.0, 1}, maxFileBytes);
    std::vector<int16_t> block(4096);
    for (size_t done = 0; done < samples;) {
      size_t frames = std::min(block.size(), samples - done);
      for (size_t i = 0; i < frames; ++i) block[i] = static_cast<int16_t>((done + i) % 30011);
      audio.append(AudioBuffer{block.data(), frames, AudioFormat{16000.0, 1}});
      done += frames;
    }
    return audio;
  }

  Outcome& transcribe(const AudioAccumulator& audio, const std::string& locale = "en-US") {
    auto settings = client.settings();
    EXPECT_TRUE(settings);
    client.transcribe(*settings, audio, locale, outcome.completion());
    EXPECT_TRUE(outcome.wait());
    return outcome;
  }

  LoopbackHttpServer server;
  TempHome home;
  CurlHttpClient http;
  RecordingConsole console;
  DeepSeekPolisher polisher{home, localFileSystem(), http, console};
  TranscriptionClient client{polisher, http, console};
  Outcome outcome;
};

TEST_F(TranscriptionClientTest, posts_a_wav_file_with_model_language_and_bearer_key_as_multipart) {
  configure({{"transcription_url", server.url("/v1/audio/transcriptions")},
             {"transcription_api_key", "sk-transcribe"},
             {"transcription_model", "large-v3"}});
  server.script({200, R"({"text":"  你好，世界。\n"})"});
  // Longer than one 30-second storage chunk, ending in a part-filled block.
  const size_t samples = 31 * 16000 + 123;
  auto& result = transcribe(capture(samples), "zh-Hans");

  EXPECT_EQ(result.text, "你好，世界。");
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& request = requests[0];
  EXPECT_EQ(request.path, "/v1/audio/transcriptions");
  EXPECT_EQ(request.header("Authorization"), "Bearer sk-transcribe");
  EXPECT_EQ(request.header("Content-Type").rfind("multipart/form-data; boundary=", 0), 0u);
  auto field = [&](const std::string& name) {
    auto it = request.parts.find(name);
    return it == request.parts.end() ? std::string("(missing)") : it->second.content;
  };
  EXPECT_EQ(field("model"), "large-v3");
  EXPECT_EQ(field("language"), "zh");
  EXPECT_EQ(field("response_format"), "json");

  ASSERT_EQ(request.parts.count("file"), 1u);
  const auto& file = request.parts.find("file")->second;
  EXPECT_EQ(file.filename, "audio.wav");
  EXPECT_EQ(file.content_type, "audio/wav");
  const std::string& wav = file.content;
  ASSERT_EQ(wav.size(), 44 + 2 * samples);
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
  EXPECT_EQ(le(wav, 4, 4), wav.size() - 8);
  EXPECT_EQ(wav.substr(8, 8), "WAVEfmt ");
  EXPECT_EQ(le(wav, 16, 4), 16u);
  EXPECT_EQ(le(wav, 20, 2), 1u);      // PCM
  EXPECT_EQ(le(wav, 22, 2), 1u);      // mono
  EXPECT_EQ(le(wav, 24, 4), 16000u);  // samples per second
  EXPECT_EQ(le(wav, 28, 4), 32000u);  // bytes per second
  EXPECT_EQ(le(wav, 32, 2), 2u);
  EXPECT_EQ(le(wav, 34, 2), 16u);
  EXPECT_EQ(wav.substr(36, 4), "data");
  EXPECT_EQ(le(wav, 40, 4), 2 * samples);
  for (size_t i : {size_t{0}, size_t{4095}, size_t{30 * 16000}, samples - 1}) {
    EXPECT_EQ(static_cast<int16_t>(le(wav, 44 + 2 * i, 2)), static_cast<int16_t>(i % 30011))
        << "sample " << i;
  }
  for (const auto& line : console.lines()) EXPECT_EQ(line.find("sk-transcribe"), std::string::npos);
}

TEST_F(TranscriptionClientTest, language_is_the_two_letter_code_of_the_locale_or_left_out) {
  struct Row {
    std::string locale, language;
  };
  for (const Row& row : std::vector<Row>{{"en-US", "en"},
                                         {"zh-Hans", "zh"},
                                         {"zh-HK", "zh"},
                                         {"pt_BR", "pt"},
                                         {"FR", "fr"},
                                         {"", ""},
                                         {"yue-HK", ""},
                                         {"e1-US", ""}}) {
    EXPECT_EQ(TranscriptionClient::languageOf(row.locale), row.language) << row.locale;
  }
  configure({{"transcription_url", server.url("/t")}});
  server.script({200, R"({"text":"x"})"});
  transcribe(capture(10), "");
  auto request = server.requests().at(0);
  EXPECT_EQ(request.parts.count("language"), 0u);
  EXPECT_EQ(request.parts.find("model")->second.content, "whisper-1");
  EXPECT_FALSE(request.hasHeader("Authorization"));
}

TEST_F(TranscriptionClientTest, each_failure_gives_a_reason_and_a_transcription_line) {
  struct Row {
    const char* name;
    nlohmann::json config;  // merged over a working loopback configuration
    std::optional<Reply> reply;
    size_t maxFileBytes;
    bool sent;
    std::string line;  // start of the last console line
  };
  const size_t big = AudioAccumulator::kMaxFileBytes;
  const std::vector<Row> rows = {
      {"status not 2xx",
       {},
       Reply{500, R"({"text":"hello"})"},
       big,
       true,
       "[Transcription] server answered with status 500"},
      {"text not a string",
       {},
       Reply{200, R"({"text":7})"},
       big,
       true,
       "[Transcription] reply holds no string \"text\""},
      {"body not json",
       {},
       Reply{200, "hello"},
       big,
       true,
       "[Transcription] reply holds no string \"text\""},
      {"refused",
       {{"transcription_url", "http://127.0.0.1:" + std::to_string(closedPort()) + "/t"}},
       std::nullopt,
       big,
       false,
       "[Transcription] request failed: "},
      {"http to another host",
       {{"transcription_url", "http://example.com/t"}},
       std::nullopt,
       big,
       false,
       "[Transcription] request not sent to http://example.com/t"},
      {"key with a line break",
       {{"transcription_api_key", "sk-transcribe\r\nX: y"}},
       std::nullopt,
       big,
       false,
       "[Transcription] transcription_api_key in config.json is malformed"},
      {"over the size limit",
       {},
       std::nullopt,
       1000,
       false,
       "[Transcription] recording is over the 25 MB upload limit"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    nlohmann::json config = {{"transcription_url", server.url("/t")},
                             {"transcription_api_key", "sk-transcribe"}};
    if (row.config.is_object()) config.update(row.config);
    configure(config);
    if (row.reply) server.script(*row.reply);
    size_t before = server.requests().size();
    console.clear();
    Outcome probe;
    client.transcribe(*client.settings(), capture(4000, row.maxFileBytes), "en-US",
                      probe.completion());
    ASSERT_TRUE(probe.wait());
    EXPECT_EQ(probe.calls, 1);
    EXPECT_FALSE(probe.text);
    EXPECT_TRUE(probe.failure && !probe.failure->empty());
    EXPECT_EQ(server.requests().size(), before + (row.sent ? 1 : 0));
    ASSERT_FALSE(console.lines().empty());
    EXPECT_EQ(console.lines().back().rfind(row.line, 0), 0u) << console.lines().back();
    for (const auto& line : console.lines())
      EXPECT_EQ(line.find("sk-transcribe"), std::string::npos);
  }
}

TEST_F(TranscriptionClientTest, settings_need_a_url_string_and_default_the_model) {
  configure({{"transcription_url", ""}});
  EXPECT_FALSE(client.settings());
  configure({{"transcription_url", 5}, {"transcription_model", "m"}});
  EXPECT_FALSE(client.settings());
  configure({{"transcription_url", "https://h/t"}, {"transcription_model", 3}});
  ASSERT_TRUE(client.settings());
  EXPECT_EQ(client.settings()->model, "whisper-1");
  EXPECT_FALSE(client.settings()->apiKey);
}

}  // namespace
}  // namespace quorvel
