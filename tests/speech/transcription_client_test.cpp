// The transcription client against a real loopback server through the libcurl client.
#include "speech/transcription_client.h"

#include <gmock/gmock.h>
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
using ::testing::Contains, ::testing::Each, ::testing::HasSubstr, ::testing::Not,
    ::testing::StartsWith;
using Reply = LoopbackHttpServer::Reply;

class TranscriptionClientTest : public ::testing::Test {
 protected:
  // Audio whose samples count up, so order and completeness show in the file.
  AudioAccumulator capture(size_t samples, size_t maxFileBytes = AudioAccumulator::kMaxFileBytes) {
    AudioAccumulator audio(AudioFormat{16000.0, 1}, maxFileBytes);
    std::vector<int16_t> all(samples);
    for (size_t i = 0; i < samples; ++i) all[i] = static_cast<int16_t>(i % 30011);
    for (size_t at = 0; at < samples; at += 4096)
      audio.append(AudioBuffer{all.data() + at, std::min<size_t>(4096, samples - at), {}});
    return audio;
  }

  // The completion's text and failure, with `changes` made to a working configuration. The
  // completion may come once only: a second call would throw.
  using Outcome = std::pair<std::optional<std::string>, std::optional<std::string>>;
  Outcome transcribe(const AudioAccumulator& audio, const std::string& locale = "en-US",
                     const nlohmann::json& changes = {}) {
    nlohmann::json config = {{"transcription_url", server.url("/v1/audio/transcriptions")},
                             {"transcription_api_key", "sk-transcribe"},
                             {"transcription_model", "large-v3"}};
    if (changes.is_object()) config.update(changes);
    home.put("config.json", config.dump());
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

// The first row is a transcription of a dictation longer than one 30-second storage chunk,
// ending in a part-filled block; the request it sent is checked below.
TEST_F(TranscriptionClientTest, posts_a_wav_file_in_a_multipart_form_and_reports_each_failure) {
  struct Row {
    nlohmann::json changes;  // to the working configuration
    std::optional<Reply> reply;
    std::string line;  // start of a console line ("" for success); a reply means a request
    size_t maxFileBytes = AudioAccumulator::kMaxFileBytes;
  };
  const std::string refused = "http://127.0.0.1:" + std::to_string(closedPort()) + "/t";
  const uint32_t samples = 31 * 16000 + 123;
  for (const Row& row : std::vector<Row>{
           {{}, Reply{200, R"({"text":"  你好，世界。\n"})"}, ""},
           {{}, Reply{500, R"({"text":"hello"})"}, "server answered with status 500"},
           {{}, Reply{200, "hello"}, "reply holds no string \"text\""},
           {{{"transcription_url", refused}}, {}, "request failed: "},
           {{{"transcription_url", "http://example.com/t"}}, {}, "request not sent to http:"},
           {{{"transcription_api_key", "sk-transcribe\r\nX: y"}}, {}, "transcription_api_key"},
           {{}, {}, "recording is over the 25 MB upload limit", 1000},
       }) {
    SCOPED_TRACE(row.line);
    if (row.reply) server.script(*row.reply);
    size_t before = server.requests().size();
    console.clear();
    auto [text, failure] = transcribe(capture(samples, row.maxFileBytes), "zh-Hans", row.changes);
    EXPECT_EQ(text, row.line.empty() ? std::optional<std::string>("你好，世界。") : std::nullopt);
    EXPECT_EQ(failure.value_or("").empty(), row.line.empty());
    EXPECT_EQ(server.requests().size(), before + (row.reply ? 1 : 0));
    EXPECT_THAT(console.lines(), Contains(StartsWith("[Transcription] " + row.line)));
    EXPECT_THAT(console.lines(), Each(Not(HasSubstr("sk-transcribe"))));
  }
  const auto request = server.requests().at(0);
  EXPECT_EQ(request.path, "/v1/audio/transcriptions");
  EXPECT_EQ(request.header("Authorization"), "Bearer sk-transcribe");
  for (auto [name, value] :
       {std::pair{"model", "large-v3"}, {"language", "zh"}, {"response_format", "json"}}) {
    EXPECT_EQ(request.parts.count(name) ? request.parts.find(name)->second.content : "", value);
  }
  ASSERT_EQ(request.parts.count("file"), 1u);
  const auto& file = request.parts.find("file")->second;
  EXPECT_EQ(file.filename + " " + file.content_type, "audio.wav audio/wav");
  const std::string& wav = file.content;
  ASSERT_EQ(wav.size(), 44 + 2 * samples);
  // PCM, mono, 16 kHz, 32000 bytes a second, 2 bytes a frame, 16 bits, then the samples.
  EXPECT_EQ(wav.substr(0, 44),
            std::string("RIFF\x1a\x24\x0f\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x80\x3e\0\0"
                        "\0\x7d\0\0\x02\0\x10\0data\xf6\x23\x0f\0",
                        44));
  const auto* pcm = reinterpret_cast<const int16_t*>(wav.data() + 44);
  for (uint32_t i : {0u, 4095u, 30u * 16000, samples - 1}) EXPECT_EQ(pcm[i], i % 30011) << i;
}

}  // namespace
}  // namespace quorvel
