// The transcription client against a real loopback server through the libcurl client.
#include "speech/transcription_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>

#include "fakes/loopback_http_server.h"
#include "fakes/recording_console.h"
#include "fakes/temp_home.h"
#include "platform/linux/system/curl_http_client.h"

namespace quorvel {
namespace {

using namespace quorvel::testing;
using Reply = LoopbackHttpServer::Reply;

uint32_t le(const std::string& bytes, uint32_t at, int width) {
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

  // The completion's text and failure. It may come once only: a second call would throw.
  using Outcome = std::pair<std::optional<std::string>, std::optional<std::string>>;
  Outcome transcribe(const AudioAccumulator& audio, const std::string& locale = "en-US") {
    auto outcome = std::make_shared<std::promise<Outcome>>();
    auto future = outcome->get_future();
    client.transcribe(*client.settings(), audio, locale, [outcome](auto text, auto failure) {
      outcome->set_value({std::move(text), std::move(failure)});
    });
    if (future.wait_for(std::chrono::seconds(20)) != std::future_status::ready)
      return {"<none>", {}};
    return future.get();
  }

  LoopbackHttpServer server;
  TempHome home;
  CurlHttpClient http;
  RecordingConsole console;
  DeepSeekPolisher polisher{home, localFileSystem(), http, console};
  TranscriptionClient client{polisher, http, console};
};

TEST_F(TranscriptionClientTest, posts_a_wav_file_with_model_language_and_bearer_key_as_multipart) {
  configure({{"transcription_url", server.url("/v1/audio/transcriptions")},
             {"transcription_api_key", "sk-transcribe"},
             {"transcription_model", "large-v3"}});
  server.script({200, R"({"text":"  你好，世界。\n"})"});
  // Longer than one 30-second storage chunk, ending in a part-filled block.
  const uint32_t samples = 31 * 16000 + 123;
  EXPECT_EQ(transcribe(capture(samples), "zh-Hans").first, "你好，世界。");
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& request = requests[0];
  EXPECT_EQ(request.path, "/v1/audio/transcriptions");
  EXPECT_EQ(request.header("Authorization"), "Bearer sk-transcribe");
  EXPECT_EQ(request.header("Content-Type").rfind("multipart/form-data; boundary=", 0), 0u);
  for (auto [name, value] :
       {std::pair{"model", "large-v3"}, {"language", "zh"}, {"response_format", "json"}}) {
    EXPECT_EQ(request.parts.count(name) ? request.parts.find(name)->second.content : "", value);
  }
  ASSERT_EQ(request.parts.count("file"), 1u);
  const auto& file = request.parts.find("file")->second;
  EXPECT_EQ(file.filename + " " + file.content_type, "audio.wav audio/wav");
  const std::string& wav = file.content;
  ASSERT_EQ(wav.size(), 44 + 2 * samples);
  EXPECT_EQ(wav.substr(0, 4) + wav.substr(8, 8) + wav.substr(36, 4), "RIFFWAVEfmt data");
  // Sizes, PCM, mono, 16 kHz, 32000 bytes a second, 2 bytes a frame, 16 bits; then samples.
  for (auto [at, width, value] : {std::tuple{4, 4, 36 + 2 * samples},
                                  {16, 4, 16u},
                                  {20, 2, 1u},
                                  {22, 2, 1u},
                                  {24, 4, 16000u},
                                  {28, 4, 32000u},
                                  {32, 2, 2u},
                                  {34, 2, 16u},
                                  {40, 4, 2 * samples}}) {
    EXPECT_EQ(le(wav, at, width), value) << "at " << at;
  }
  for (uint32_t i : {0u, 4095u, 30u * 16000, samples - 1}) {
    EXPECT_EQ(le(wav, 44 + 2 * i, 2), i % 30011) << "sample " << i;
  }
  for (const auto& line : console.lines()) EXPECT_EQ(line.find("sk-transcribe"), std::string::npos);
}

TEST_F(TranscriptionClientTest, language_is_the_two_letter_code_of_the_locale_or_left_out) {
  for (auto [locale, language] : {std::pair{"en-US", "en"},
                                  {"zh-Hans", "zh"},
                                  {"pt_BR", "pt"},
                                  {"FR", "fr"},
                                  {"", ""},
                                  {"yue-HK", ""},
                                  {"e1-US", ""}}) {
    EXPECT_EQ(TranscriptionClient::languageOf(locale), language) << locale;
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
    nlohmann::json config;  // merged over a working loopback configuration
    std::optional<Reply> reply;
    size_t maxFileBytes;
    std::string line;  // start of the last console line; the request was sent when a reply is
  };
  const size_t big = AudioAccumulator::kMaxFileBytes;
  const std::string refused = "http://127.0.0.1:" + std::to_string(closedPort()) + "/t";
  for (const Row& row : std::vector<Row>{
           {{}, Reply{500, R"({"text":"hello"})"}, big, "server answered with status 500"},
           {{}, Reply{200, R"({"text":7})"}, big, "reply holds no string \"text\""},
           {{}, Reply{200, "hello"}, big, "reply holds no string \"text\""},
           {{{"transcription_url", refused}}, {}, big, "request failed: "},
           {{{"transcription_url", "http://example.com/t"}},
            {},
            big,
            "request not sent to http://example.com/t"},
           {{{"transcription_api_key", "sk-transcribe\r\nX: y"}},
            {},
            big,
            "transcription_api_key in config.json is malformed"},
           {{}, {}, 1000, "recording is over the 25 MB upload limit"},
       }) {
    SCOPED_TRACE(row.line);
    nlohmann::json config = {{"transcription_url", server.url("/t")},
                             {"transcription_api_key", "sk-transcribe"}};
    if (row.config.is_object()) config.update(row.config);
    configure(config);
    if (row.reply) server.script(*row.reply);
    size_t before = server.requests().size();
    console.clear();
    auto [text, failure] = transcribe(capture(4000, row.maxFileBytes));
    EXPECT_FALSE(text);
    EXPECT_TRUE(failure && !failure->empty());
    EXPECT_EQ(server.requests().size(), before + (row.reply ? 1 : 0));
    ASSERT_FALSE(console.lines().empty());
    EXPECT_EQ(console.lines().back().rfind("[Transcription] " + row.line, 0), 0u);
    for (const auto& line : console.lines()) EXPECT_EQ(line.find("sk-transcribe"), line.npos);
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
