#include <gtest/gtest.h>

#include <cstdint>

#include "fakes/fake_http_client.h"
#include "fakes/recording_console.h"
#include "fakes/temp_home.h"
#include "polish/completion_probe.h"
#include "polish/deepseek_polisher.h"

namespace quorvel {
namespace {

using namespace quorvel::testing;

// Written out independently of the program's text: em dashes and arrows as UTF-8 bytes.
const char* const kExtractionPrompt =
    "You are a voice-to-text post-processing assistant. The user spoke something and it was "
    "transcribed. Your task is to extract the core points in the most concise way.\n\nRules:\n"
    "1. Remove all filler words, repetition, hedging, and fluff\n"
    "2. Detect self-corrections ('actually', 'I mean', 'wait no') \xE2\x80\x94 keep only the "
    "corrected version\n"
    "3. If there is only ONE point, output a plain sentence with NO bullet point or dash prefix\n"
    "4. If there are MULTIPLE points, use bullet points (- item)\n"
    "5. CRITICAL: Match the input language \xE2\x80\x94 English input \xE2\x86\x92 English "
    "output, Chinese input \xE2\x86\x92 Chinese output, mixed \xE2\x86\x92 mixed\n"
    "6. Do NOT translate. Do NOT add content that wasn't there.\n\n"
    "Return ONLY the extracted text, no explanations.";

uint64_t fnv1a64(const std::string& bytes) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char byte : bytes) hash = (hash ^ byte) * 0x100000001b3ull;
  return hash;
}

size_t codePoints(const std::string& text) {
  size_t count = 0;
  for (unsigned char byte : text) count += (byte & 0xC0) != 0x80;
  return count;
}

TEST(Prompts, extraction_prompt_is_exact_to_the_byte) {
  const std::string& prompt = DeepSeekPolisher::extractionPrompt();
  EXPECT_EQ(prompt.size(), 714u);
  EXPECT_EQ(codePoints(prompt), 704u);
  EXPECT_EQ(fnv1a64(prompt), 0xb49655f30ea063e5ull);
  EXPECT_EQ(prompt, kExtractionPrompt);
}

class PolishAndEdit : public ::testing::Test {
 protected:
  // The messages of the one request sent so far.
  nlohmann::json sentMessages() {
    EXPECT_EQ(http.sent().size(), 1u);
    if (http.sent().empty()) return nullptr;
    return nlohmann::json::parse(*http.sent()[0].body)["messages"];
  }
  static nlohmann::json conversation(const std::string& system, const std::string& user) {
    return nlohmann::json::array(
        {{{"role", "system"}, {"content", system}}, {{"role", "user"}, {"content", user}}});
  }

  TempHome home;
  FakeHttpClient http;
  RecordingConsole console;
  DeepSeekPolisher polisher{home, localFileSystem(), http, console};
  CompletionProbe probe;
};

TEST_F(PolishAndEdit, extract_sends_the_prompt_then_the_raw_text_and_passes_the_answer_back) {
  polisher.polish(" so um\nhello ", "Extract", probe.completion());
  EXPECT_EQ(sentMessages(), conversation(kExtractionPrompt, " so um\nhello "));
  EXPECT_EQ(probe.calls(), 0);
  http.reply(0, 200, R"({"choices":[{"message":{"content":"Hello."}}]})");
  EXPECT_EQ(probe.text(), "Hello.");
  EXPECT_FALSE(probe.error());
}

TEST_F(PolishAndEdit, extract_with_empty_text_still_sends_a_request) {
  polisher.polish("", "Extract", probe.completion());
  EXPECT_EQ(sentMessages(), conversation(kExtractionPrompt, ""));
}

TEST_F(PolishAndEdit, mode_without_prompt_hands_the_text_back_at_once_and_sends_nothing) {
  for (const char* mode : {"extract", "", "Summary", "Extract "}) {
    CompletionProbe direct;
    polisher.polish(" raw\n", mode, direct.completion());
    EXPECT_TRUE(direct.calledOnThisThread()) << mode;
    EXPECT_EQ(direct.text(), " raw\n");
    EXPECT_FALSE(direct.error());
  }
  EXPECT_TRUE(http.sent().empty());
  EXPECT_TRUE(console.lines().empty());
}

TEST_F(PolishAndEdit, edit_sends_the_edit_prompt_and_text_with_instruction) {
  const std::string editPrompt =
      "You are a text editing assistant. The user will provide text and an instruction. Apply "
      "the instruction to the text and return ONLY the edited result, nothing else.";
  polisher.edit("line one\nline two", "", probe.completion());
  EXPECT_EQ(sentMessages(), conversation(editPrompt, "Text:\nline one\nline two\n\nInstruction: "));
  http.fail(0, "offline");
  EXPECT_FALSE(probe.text());
  ASSERT_TRUE(probe.error());
  EXPECT_EQ(probe.error()->description, "offline");
  EXPECT_EQ(console.lines().back(), "[DeepSeek] request failed: offline");
}

TEST_F(PolishAndEdit, edit_with_empty_text_still_sends_a_request) {
  polisher.edit("", "make it formal", probe.completion());
  EXPECT_EQ(sentMessages()[1]["content"], "Text:\n\n\nInstruction: make it formal");
}

}  // namespace
}  // namespace quorvel
