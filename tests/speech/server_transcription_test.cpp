// Dictation with a transcription server configured: the session keeps its audio, posts it at
// stop and delivers the server's transcript, or falls back to the local final on a failure.
#include "speech/engine_harness.h"

namespace quorvel::testing {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kServer = "https://stt.example/v1/audio/transcriptions";

class ServerTranscription : public EngineHarness {
 protected:
  void configure(const std::string& locale) {
    home.put("config.json", nlohmann::json{{"transcription_url", kServer},
                                           {"transcription_api_key", "sk-stt"},
                                           {"speech_locale", locale}}
                                .dump());
    engine = makeEngine();
  }

  // Starts, captures `blocks` buffers of 4096 frames and stops in a mode without a prompt.
  void dictate(int blocks) {
    startFromPage();
    settle();
    for (int i = 0; i < blocks; ++i) ASSERT_TRUE(microphone.push());
    if (auto task = lastTask()) task->partial("local");
    settle();
    stopFromPage("Verbatim");
    settle();
  }

  bool anyLineHolds(const std::string& text) const {
    for (const auto& line : lines()) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }
};

uint32_t le32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

TEST_F(ServerTranscription, posts_the_captured_audio_once_and_delivers_the_server_transcript) {
  configure("en-US");
  dictate(3);
  ASSERT_EQ(http.sent().size(), 1u);
  const HttpRequest request = http.sent()[0];
  EXPECT_EQ(request.url, kServer);
  ASSERT_TRUE(request.body);
  size_t wav = request.body->find("RIFF");
  ASSERT_NE(wav, std::string::npos);
  EXPECT_EQ(le32(*request.body, wav + 40), 2u * 3 * 4096);  // every captured sample
  EXPECT_THAT(*request.body, HasSubstr("name=\"language\"\r\n\r\nen\r\n"));

  lastTask()->final("local words");
  settle();
  EXPECT_THAT(webView->scripts, Not(Contains(rawCall("local words", "Verbatim"))));
  http.reply(0, 200, R"({"text":" Server words. "})");
  settle();
  EXPECT_THAT(webView->scripts, Contains(rawCall("Server words.", "Verbatim")));
  EXPECT_EQ(http.sent().size(), 1u);
  EXPECT_FALSE(anyLineHolds("sk-stt"));
}

TEST_F(ServerTranscription, each_failure_falls_back_to_the_local_final_and_says_why) {
  enum class Answer { Refused, Status500, NoText, Silence };
  struct Row {
    const char* name;
    Answer answer;
    bool localFinalFirst;
    std::string line;  // start of the "[Transcription] " line that explains
  };
  const std::vector<Row> rows = {
      {"refused", Answer::Refused, true, "[Transcription] request failed: Connection refused"},
      {"refused before the local final", Answer::Refused, false,
       "[Transcription] request failed: Connection refused"},
      {"status 500", Answer::Status500, true, "[Transcription] server answered with status 500"},
      {"no text", Answer::NoText, false, "[Transcription] reply holds no string \"text\""},
      {"time-out", Answer::Silence, true, "[Transcription] no answer within 10 s"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    configure("en-US");
    clearRecords();
    dictate(2);
    size_t request = http.pending() - 1;
    if (row.localFinalFirst) {
      lastTask()->final("local words");
      settle();
    }
    switch (row.answer) {
      case Answer::Refused:
        http.fail(request, "Connection refused");
        break;
      case Answer::Status500:
        http.reply(request, 500, R"({"text":"never used"})");
        break;
      case Answer::NoText:
        http.reply(request, 200, R"({"error":"busy"})");
        break;
      case Answer::Silence:
        queue.advance(TranscriptionClient::timeoutSeconds(2 * 4096 / 16000.0));
    }
    settle();
    if (!row.localFinalFirst) {
      EXPECT_THAT(webView->scripts, Not(Contains(rawCall("local words", "Verbatim"))));
      lastTask()->final("local words");
      settle();
    }
    EXPECT_THAT(webView->scripts, Contains(rawCall("local words", "Verbatim")));
    EXPECT_THAT(webView->scripts, Contains(HasSubstr("alert('Transcription server failed: ")));
    EXPECT_TRUE(anyLineHolds(row.line)) << ::testing::PrintToString(lines());
    EXPECT_FALSE(engine->isWaitingForFinal());
  }
}

TEST_F(ServerTranscription, a_language_without_a_local_recogniser_records_for_the_server) {
  configure("de-DE");
  dictate(2);
  EXPECT_THAT(webView->scripts, Not(Contains(errorCall("Speech recognizer not available"))));
  ASSERT_EQ(http.sent().size(), 1u);
  EXPECT_THAT(*http.sent()[0].body, HasSubstr("name=\"language\"\r\n\r\nde\r\n"));
  http.reply(0, 200, R"({"text":"Guten Tag."})");
  settle();
  EXPECT_THAT(webView->scripts, Contains(rawCall("Guten Tag.", "Verbatim")));

  // The same dictation with a server that fails has nothing local to fall back to.
  clearRecords();
  dictate(2);
  http.fail(0, "Connection refused");
  settle();
  EXPECT_THAT(webView->scripts, Contains(HasSubstr("alert('Transcription server failed: ")));
  EXPECT_THAT(webView->scripts, Not(Contains(HasSubstr("showRawAndStartPolish('"))));
  EXPECT_FALSE(engine->isWaitingForFinal());
}

}  // namespace
}  // namespace quorvel::testing
