#include "platform/linux/audio/pocketsphinx_recognizer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "fakes/threaded_main_queue.h"
#include "platform/linux/audio/allocation_counter.h"
#include "platform/linux/audio/speech_samples.h"

namespace quorvel::linux_audio {
namespace {

using namespace std::chrono_literals;
using testing::ThreadedMainQueue;

// Generous: a loaded machine decodes several times slower than real time would suggest.
constexpr auto kBound = 90s;

struct Delivery {
  std::optional<RecognitionResult> result;
  std::optional<RecognitionError> error;
};

// One task's deliveries, in the order the main queue ran them.
struct Collector {
  std::vector<Delivery> deliveries;
  SpeechRecognizer::ResultHandler handler() {
    return [this](const auto& result, const auto& error) { deliveries.push_back({result, error}); };
  }
  bool ended() const {
    return !deliveries.empty() && (deliveries.back().error ||
                                   (deliveries.back().result && deliveries.back().result->isFinal));
  }
  // The final transcript, or what the task ended with instead.
  std::string finalText() const {
    if (!ended()) return "<not ended>";
    const Delivery& last = deliveries.back();
    return last.result ? last.result->formattedString : "<error: " + last.error->description + ">";
  }
  std::vector<std::string> partials() const {
    std::vector<std::string> texts;
    for (const auto& d : deliveries) {
      if (d.result && !d.result->isFinal) texts.push_back(d.result->formattedString);
    }
    return texts;
  }
};

SphinxModel debianModel() {
  auto model = findSphinxModel("en-US", {kSystemSphinxModelDir});
  EXPECT_TRUE(model) << "pocketsphinx-en-us is not installed";
  return model.value_or(SphinxModel{});
}

void feed(RecognitionRequest& request, const std::vector<int16_t>& samples, uint32_t channels = 1,
          double rate = 16000) {
  const size_t block = 4096 * channels;
  for (size_t at = 0; at < samples.size(); at += block) {
    const size_t n = std::min(block, samples.size() - at);
    request.append(AudioBuffer{samples.data() + at, n / channels, AudioFormat{rate, channels}});
  }
}

class PocketSphinxRecognizerTest : public ::testing::Test {
 protected:
  // Feeds a whole recording, ends its audio and returns what the task delivered.
  Collector recognize(const std::vector<int16_t>& samples, bool partials = true) {
    Collector collector;
    auto request = recognizer.makeRequest();
    request->shouldReportPartialResults = partials;
    auto task = recognizer.recognitionTask(request, collector.handler());
    feed(*request, samples);
    request->endAudio();
    EXPECT_TRUE(queue.runUntil([&] { return collector.ended(); }, kBound));
    return collector;
  }

  ThreadedMainQueue queue;
  PocketSphinxRecognizer recognizer{queue, debianModel()};
};

TEST_F(PocketSphinxRecognizerTest, transcribes_go_forward_with_changing_partials_before_the_final) {
  const Collector c = recognize(testing::goForward().samples);

  ASSERT_TRUE(c.ended());
  const Delivery& last = c.deliveries.back();
  ASSERT_TRUE(last.result) << "ended with an error: " << last.error->description;
  EXPECT_TRUE(last.result->isFinal);
  EXPECT_EQ(last.result->formattedString, "go forward ten meters");
  const auto partials = c.partials();
  EXPECT_GE(partials.size(), 2u);
  EXPECT_EQ(partials.size() + 1, c.deliveries.size()) << "errors or several finals delivered";
  for (size_t i = 1; i < partials.size(); ++i) {
    EXPECT_NE(partials[i], partials[i - 1]) << "an unchanged partial was reported again";
  }
  ASSERT_TRUE(recognizer.waitUntilIdle(kBound));
  queue.runPending();
  EXPECT_EQ(c.deliveries.size(), partials.size() + 1) << "delivered after the final";
}

TEST_F(PocketSphinxRecognizerTest, word_error_rate_over_the_librivox_sentences_stays_under_half) {
  const auto sentences = testing::librivox();
  ASSERT_EQ(sentences.size(), 5u);
  size_t errors = 0, referenceWords = 0;
  for (const auto& sentence : sentences) {
    ASSERT_EQ(sentence.rate, 16000u) << sentence.name;
    ASSERT_EQ(sentence.channels, 1u) << sentence.name;
    ASSERT_FALSE(sentence.samples.empty()) << sentence.name;
    const Collector c = recognize(sentence.samples, false);
    ASSERT_TRUE(c.ended() && c.deliveries.back().result) << sentence.name;
    const std::string heard = c.deliveries.back().result->formattedString;
    errors += testing::wordErrors(sentence.transcript, heard);
    referenceWords += testing::words(sentence.transcript).size();
    std::printf("ref: %s\nhyp: %s\n", sentence.transcript.c_str(), heard.c_str());
  }
  const double wer = static_cast<double>(errors) / static_cast<double>(referenceWords);
  std::printf("librivox word error rate: %.1f %% (%zu errors in %zu words)\n", wer * 100, errors,
              referenceWords);
  EXPECT_LT(wer, 0.5);
}

// The audio's length is no multiple of the 4096-frame block: the end of "meters" arrives in a
// short last buffer, which must be decoded too.
TEST_F(PocketSphinxRecognizerTest, the_short_last_buffer_is_decoded_with_the_rest) {
  const auto cut = testing::cutAfterSpeech(testing::goForward().samples, 0.05);
  ASSERT_NE(cut.size() % 4096, 0u);
  EXPECT_EQ(recognize(cut).finalText(), "go forward ten meters");
}

// Speech with pauses is decoded utterance by utterance; the final joins them all.
TEST_F(PocketSphinxRecognizerTest, utterances_split_at_pauses_are_joined_in_the_final) {
  std::vector<int16_t> twice = testing::goForward().samples;
  twice.insert(twice.end(), 16000, int16_t{0});
  const auto again = testing::goForward().samples;
  twice.insert(twice.end(), again.begin(), again.end());
  const Collector c = recognize(twice);
  EXPECT_EQ(c.finalText(), "go forward ten meters go forward ten meters");
}

// A ring with no room left loses audio: the task says so instead of leaving a silent gap.
TEST_F(PocketSphinxRecognizerTest, audio_lost_to_a_full_ring_ends_the_task_with_an_error) {
  auto request = std::make_shared<PocketSphinxRequest>(16000);
  Collector c;
  auto task = recognizer.recognitionTask(request, c.handler());
  feed(*request, std::vector<int16_t>(64 * 4096, 0));
  ASSERT_GT(request->droppedSamples(), 0u);
  ASSERT_TRUE(queue.runUntil([&] { return c.ended(); }, kBound));
  EXPECT_EQ(c.finalText(), "<error: Audio was lost: speech recognition could not keep up>");
}

TEST_F(PocketSphinxRecognizerTest, reports_only_the_final_when_partials_are_off) {
  const Collector c = recognize(testing::goForward().samples, false);
  ASSERT_EQ(c.deliveries.size(), 1u);
  EXPECT_EQ(c.finalText(), "go forward ten meters");
}

TEST_F(PocketSphinxRecognizerTest, a_task_started_on_the_final_reuses_the_loaded_decoder) {
  const Collector first = recognize(testing::goForward().samples, false);
  const Collector second = recognize(testing::goForward().samples, false);
  EXPECT_EQ(second.finalText(), "go forward ten meters");
  EXPECT_EQ(recognizer.decodersLoaded(), 1u);
}

TEST_F(PocketSphinxRecognizerTest, no_speech_gives_an_empty_final_result) {
  const Collector silence = recognize(std::vector<int16_t>(16000, 0));
  EXPECT_EQ(silence.finalText(), "");

  const Collector nothing = recognize({});
  ASSERT_EQ(nothing.deliveries.size(), 1u);
  EXPECT_EQ(nothing.finalText(), "");
}

TEST_F(PocketSphinxRecognizerTest, stereo_audio_is_mixed_down_before_decoding) {
  const auto mono = testing::goForward().samples;
  std::vector<int16_t> stereo;
  for (int16_t s : mono) stereo.insert(stereo.end(), {s, s});
  Collector c;
  auto request = recognizer.makeRequest();
  auto task = recognizer.recognitionTask(request, c.handler());
  feed(*request, stereo, 2);
  request->endAudio();
  ASSERT_TRUE(queue.runUntil([&] { return c.ended(); }, kBound));
  EXPECT_EQ(c.finalText(), "go forward ten meters");
}

TEST_F(PocketSphinxRecognizerTest, audio_at_another_rate_ends_the_task_with_an_error) {
  Collector c;
  auto request = recognizer.makeRequest();
  auto task = recognizer.recognitionTask(request, c.handler());
  feed(*request, std::vector<int16_t>(4096, 100), 1, 44100);
  ASSERT_TRUE(queue.runUntil([&] { return c.ended(); }, kBound));
  ASSERT_TRUE(c.deliveries.back().error);
  EXPECT_NE(c.deliveries.back().error->description.find("44100 Hz"), std::string::npos);
  EXPECT_TRUE(recognizer.waitUntilIdle(kBound));
}

TEST_F(PocketSphinxRecognizerTest, cancel_drops_results_already_queued_for_the_main_queue) {
  Collector c;
  auto request = recognizer.makeRequest();
  auto task = recognizer.recognitionTask(request, c.handler());
  feed(*request, testing::goForward().samples);
  request->endAudio();
  // The worker has posted its partials and its final; none has run yet.
  ASSERT_TRUE(recognizer.waitUntilIdle(kBound));
  task->cancel();
  queue.runPending();
  EXPECT_TRUE(c.deliveries.empty());
}

TEST_F(PocketSphinxRecognizerTest, cancel_frees_a_worker_whose_audio_is_still_open) {
  Collector c;
  auto request = recognizer.makeRequest();
  auto task = recognizer.recognitionTask(request, c.handler());
  feed(*request, testing::goForward().samples);
  task->cancel();
  EXPECT_TRUE(recognizer.waitUntilIdle(kBound));
  queue.runPending();
  EXPECT_TRUE(c.deliveries.empty());
}

TEST_F(PocketSphinxRecognizerTest, a_released_task_goes_on_while_its_request_can_still_end) {
  Collector c;
  auto request = recognizer.makeRequest();
  recognizer.recognitionTask(request, c.handler());  // handle dropped at once
  feed(*request, testing::goForward().samples);
  request->endAudio();
  request.reset();
  ASSERT_TRUE(queue.runUntil([&] { return c.ended(); }, kBound));
  EXPECT_EQ(c.finalText(), "go forward ten meters");
}

TEST_F(PocketSphinxRecognizerTest, releasing_task_and_request_without_end_stops_the_worker) {
  Collector c;
  auto request = recognizer.makeRequest();
  auto task = recognizer.recognitionTask(request, c.handler());
  feed(*request, testing::goForward().samples);
  task.reset();
  request.reset();
  EXPECT_TRUE(recognizer.waitUntilIdle(kBound));
  queue.runPending();
  for (const auto& d : c.deliveries) EXPECT_FALSE(d.result && d.result->isFinal);
}

TEST_F(PocketSphinxRecognizerTest, a_second_task_runs_while_the_first_still_waits_for_audio) {
  Collector open;
  auto firstRequest = recognizer.makeRequest();
  auto first = recognizer.recognitionTask(firstRequest, open.handler());
  feed(*firstRequest, std::vector<int16_t>(8192, 0));

  const Collector second = recognize(testing::goForward().samples);
  EXPECT_EQ(second.finalText(), "go forward ten meters");
  EXPECT_FALSE(open.ended());
  first->cancel();
}

TEST_F(PocketSphinxRecognizerTest, a_request_of_another_recognizer_is_refused_with_an_error) {
  class ForeignRequest final : public RecognitionRequest {
   public:
    void append(const AudioBuffer&) override {}
    void endAudio() override {}
  };
  Collector c;
  auto task = recognizer.recognitionTask(std::make_shared<ForeignRequest>(), c.handler());
  ASSERT_TRUE(queue.runUntil([&] { return c.ended(); }, kBound));
  ASSERT_EQ(c.deliveries.size(), 1u);
  EXPECT_TRUE(c.deliveries[0].error);
}

TEST(PocketSphinxRecognizerLoadTest,
     a_model_that_fails_to_load_reports_an_error_and_is_unavailable) {
  const std::string garbage =
      ::testing::TempDir() + "quorvel-garbage-" + std::to_string(::getpid()) + ".lm.bin";
  std::ofstream(garbage) << "not a language model";
  SphinxModel broken = debianModel();
  broken.folder = "/broken/model";
  broken.languageModel = garbage;
  ThreadedMainQueue queue;
  PocketSphinxRecognizer recognizer(queue, broken);
  EXPECT_TRUE(recognizer.isAvailable()) << "nothing has been tried yet";

  Collector c;
  ::testing::internal::CaptureStderr();
  auto request = recognizer.makeRequest();
  auto task = recognizer.recognitionTask(request, c.handler());
  feed(*request, testing::goForward().samples);
  const bool ended = queue.runUntil([&] { return c.ended(); }, kBound);
  const std::string stderrText = ::testing::internal::GetCapturedStderr();
  ASSERT_TRUE(ended);
  std::remove(garbage.c_str());
  // pocketsphinx's own account of the failure is readable, not swallowed.
  EXPECT_NE(stderrText.find("[PocketSphinx] ERROR"), std::string::npos) << stderrText;
  ASSERT_EQ(c.deliveries.size(), 1u);
  ASSERT_TRUE(c.deliveries[0].error);
  EXPECT_EQ(c.deliveries[0].error->description,
            "Speech model could not be loaded from /broken/model");
  EXPECT_FALSE(recognizer.isAvailable());
}

TEST(PocketSphinxRequestTest, append_allocates_nothing_even_when_the_ring_is_full) {
  PocketSphinxRequest request(16000);
  const std::vector<int16_t> block(4096, 7);
  const AudioBuffer buffer{block.data(), block.size(), AudioFormat{16000, 1}};
  // The tap as the recording controller installs it: hand the buffer on, nothing else.
  std::shared_ptr<RecognitionRequest> held = std::make_shared<PocketSphinxRequest>();
  const std::function<void(const AudioBuffer&)> tap = [&held](const AudioBuffer& b) {
    if (held) held->append(b);
  };
  {
    testing::AllocationScope counterWorks;
    auto probe = std::make_unique<std::vector<int16_t>>(block);
    ASSERT_EQ(counterWorks.count(), 2u) << "the counting operator new is not linked in";
  }
  testing::AllocationScope scope;
  for (int i = 0; i < 64; ++i) {
    request.append(buffer);
    tap(buffer);
  }
  EXPECT_EQ(scope.count(), 0u);
  EXPECT_GT(request.droppedSamples(), 0u) << "the ring never filled; the full path went untested";
}

TEST(PocketSphinxRequestTest, append_feeds_a_running_task_without_allocating) {
  ThreadedMainQueue queue;
  PocketSphinxRecognizer recognizer(queue, debianModel());
  auto request = recognizer.makeRequest();
  Collector c;
  auto task = recognizer.recognitionTask(request, c.handler());
  const auto samples = testing::goForward().samples;
  uint64_t allocations = 0;
  for (size_t at = 0; at + 4096 <= samples.size(); at += 4096) {
    testing::AllocationScope scope;
    request->append(AudioBuffer{samples.data() + at, 4096, AudioFormat{16000, 1}});
    allocations += scope.count();
  }
  EXPECT_EQ(allocations, 0u);
  request->endAudio();
  ASSERT_TRUE(queue.runUntil([&] { return c.ended(); }, kBound));
  EXPECT_TRUE(c.deliveries.back().result && c.deliveries.back().result->isFinal);
}

}  // namespace
}  // namespace quorvel::linux_audio
