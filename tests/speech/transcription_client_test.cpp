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

// The first row is a transcription, whose request is checked below the table.
TEST(TranscriptionClientTest, posts_a_wav_file_in_a_multipart_form_and_reports_each_failure) {
  LoopbackHttpServer server;
  TempHome home;
  CurlHttpClient http;
  RecordingConsole console;
  DeepSeekPolisher polisher{home, localFileSystem(), http, console};
  TranscriptionClient client{polisher, http, console};
  // Longer than one 30-second storage chunk, ending in a part-filled block; the samples count
  // up, so order and completeness show in the file.
  const uint32_t samples = 31 * 16000 + 123;
  std::vector<int16_t> all(samples);
  for (size_t i = 0; i < samples; ++i) all[i] = static_cast<int16_t>(i % 30011);
  struct Row {
    nlohmann::json changes;  // to the working configuration
    std::optional<Reply> reply;
    std::string line;  // start of a console line ("" for success); a reply means a request
    size_t maxFileBytes = AudioAccumulator::kMaxFileBytes;
  };
  for (const Row& row : std::vector<Row>{
           {{}, Reply{200, R"({"text":"  你好，世界。\n"})"}, ""},
           {{}, Reply{500, R"({"text":"hello"})"}, "server answered with status 500"},
           {{}, Reply{200, "hello"}, "reply holds no string \"text\""},
           {{{"transcription_url", "http://example.com/t"}}, {}, "request not sent to http:"},
           {{{"transcription_api_key", "sk-transcribe\r\nX: y"}}, {}, "transcription_api_key"},
           {{}, {}, "recording is over the 25 MB upload limit", 1000},
       }) {
    SCOPED_TRACE(row.line);
    nlohmann::json config = {{"transcription_url", server.url("/v1/audio/transcriptions")},
                             {"transcription_api_key", "sk-transcribe"},
                             {"transcription_model", "large-v3"}};
    if (row.changes.is_object()) config.update(row.changes);
    home.put("config.json", config.dump());
    if (row.reply) server.script(*row.reply);
    size_t before = server.requests().size();
    console.clear();
    AudioAccumulator audio(AudioFormat{16000.0, 1}, row.maxFileBytes);
    for (size_t at = 0; at < samples; at += 4096)
      audio.append(AudioBuffer{all.data() + at, std::min<size_t>(4096, samples - at), {}});
    // The completion may come once only: a second call would throw.
    auto outcome = std::make_shared<std::promise<std::string>>();
    auto future = outcome->get_future();
    client.transcribe(*client.settings(), audio, "zh-Hans", [outcome](auto text, auto failure) {
      outcome->set_value(text ? "text " + *text : failure.value_or("").empty() ? "" : "failure");
    });
    ASSERT_EQ(future.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(future.get(), row.line.empty() ? "text 你好，世界。" : "failure");
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
