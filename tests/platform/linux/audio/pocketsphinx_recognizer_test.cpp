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
const std::string kGoForward = "go forward ten meters";

// One task's deliveries, in the order the main queue ran them.
struct Collector {
  std::vector<std::optional<RecognitionResult>> results;
  std::string error;
  SpeechRecognizer::ResultHandler handler() {
    return [this](const auto& result, const auto& failure) {
      results.push_back(result);
      if (failure) error = failure->description;
    };
  }
  bool ended() const {
    return !error.empty() || (!results.empty() && results.back() && results.back()->isFinal);
  }
  // The final transcript, or what the task ended with instead.
  std::string finalText() const {
    if (!error.empty()) return "<error: " + error + ">";
    return ended() ? results.back()->formattedString : "<not ended>";
  }
};

void feed(RecognitionRequest& request, const std::vector<int16_t>& samples, uint32_t channels = 1,
          double rate = 16000) {
  for (size_t at = 0; at < samples.size(); at += 4096 * channels) {
    const size_t n = std::min<size_t>(4096 * channels, samples.size() - at);
    request.append(AudioBuffer{samples.data() + at, n / channels, AudioFormat{rate, channels}});
  }
}

SphinxModel debianModel() {
  return findSphinxModel("en-US", {kSystemSphinxModelDir}).value_or(SphinxModel{});
}

class PocketSphinxRecognizerTest : public ::testing::Test {
 protected:
  struct Task {
    std::shared_ptr<RecognitionRequest> request;
    std::shared_ptr<RecognitionTask> task;
    Collector collector;
  };
  std::unique_ptr<Task> begin(const std::vector<int16_t>& samples, bool partials = true,
                              std::shared_ptr<RecognitionRequest> request = nullptr) {
    auto t = std::make_unique<Task>();
    t->request = request ? request : recognizer.makeRequest();
    t->request->shouldReportPartialResults = partials;
    t->task = recognizer.recognitionTask(t->request, t->collector.handler());
    feed(*t->request, samples);
    return t;
  }
  // Feeds a whole recording, ends its audio and returns what the task delivered.
  Collector recognize(const std::vector<int16_t>& samples, bool partials = true) {
    auto t = begin(samples, partials);
    t->request->endAudio();
    EXPECT_TRUE(queue.runUntil([&] { return t->collector.ended(); }, kBound));
    return t->collector;
  }

  ThreadedMainQueue queue;
  PocketSphinxRecognizer recognizer{queue, debianModel()};
};

TEST_F(PocketSphinxRecognizerTest, each_input_ends_in_its_final_text_or_an_error) {
  const auto speech = testing::goForward().samples;
  // Cut right after "meters": its end arrives in a short last buffer, which is decoded too.
  const auto cut = testing::cutAfterSpeech(speech, 0.05);
  ASSERT_NE(cut.size() % 4096, 0u);
  std::vector<int16_t> twice = speech, stereo;
  twice.insert(twice.end(), 16000, int16_t{0});
  twice.insert(twice.end(), speech.begin(), speech.end());
  for (int16_t s : speech) stereo.insert(stereo.end(), {s, s});
  {  // A ring with no room left loses audio: the task says so instead of leaving a silent gap.
    auto t = begin(std::vector<int16_t>(64 * 4096, 0), true,
                   std::make_shared<PocketSphinxRequest>(16000));
    ASSERT_TRUE(queue.runUntil([&] { return t->collector.ended(); }, kBound));
    EXPECT_EQ(t->collector.finalText(),
              "<error: Audio was lost: speech recognition could not keep up>");
  }
  EXPECT_EQ(recognize(cut).finalText(), kGoForward);
  // Speech with pauses is decoded utterance by utterance; the final joins them all.
  EXPECT_EQ(recognize(twice).finalText(), kGoForward + " " + kGoForward);
  EXPECT_EQ(recognize(std::vector<int16_t>(16000, 0)).finalText(), "");
  EXPECT_EQ(recognize({}).finalText(), "");
  for (auto [channels, rate, expected] :
       {std::tuple{2u, 16000.0, kGoForward},
        std::tuple{1u, 44100.0,
                   std::string("<error: Audio at 44100 Hz cannot be recognized; the "
                               "speech model needs 16000 Hz>")}}) {
    Collector c;
    auto request = recognizer.makeRequest();
    auto task = recognizer.recognitionTask(request, c.handler());
    feed(*request, channels == 2 ? stereo : speech, channels, rate);
    request->endAudio();
    ASSERT_TRUE(queue.runUntil([&] { return c.ended(); }, kBound));
    EXPECT_EQ(c.finalText(), expected) << channels << " channels at " << rate;
  }
}

TEST_F(PocketSphinxRecognizerTest, reports_changing_partials_then_one_final_and_nothing_after) {
  auto t = begin(testing::goForward().samples);
  t->request->endAudio();
  ASSERT_TRUE(queue.runUntil([&] { return t->collector.ended(); }, kBound));
  ASSERT_TRUE(recognizer.waitUntilIdle(kBound));
  queue.runPending();
  const Collector& c = t->collector;
  EXPECT_EQ(c.finalText(), kGoForward) << "an error, or something delivered after the final";
  ASSERT_GE(c.results.size(), 3u);
  for (size_t i = 0; i + 1 < c.results.size(); ++i) {
    ASSERT_TRUE(c.results[i] && !c.results[i]->isFinal) << "an error or a second final";
    if (i > 0) {
      EXPECT_NE(c.results[i]->formattedString, c.results[i - 1]->formattedString);
    }
  }
  EXPECT_EQ(recognize(testing::goForward().samples, false).results.size(), 1u) << "partials off";
}

TEST_F(PocketSphinxRecognizerTest, word_error_rate_over_the_librivox_sentences_stays_under_half) {
  const auto sentences = testing::librivox();
  ASSERT_EQ(sentences.size(), 5u);
  size_t errors = 0, words = 0;
  for (const auto& sentence : sentences) {
    const std::string heard = recognize(sentence.samples, false).finalText();
    errors += testing::wordErrors(sentence.transcript, heard);
    words += testing::words(sentence.transcript).size();
    std::printf("ref: %s\nhyp: %s\n", sentence.transcript.c_str(), heard.c_str());
  }
  EXPECT_LT(static_cast<double>(errors) / static_cast<double>(words), 0.5);
}

TEST_F(PocketSphinxRecognizerTest, cancel_drops_queued_results_and_frees_a_worker_with_open_audio) {
  auto ended = begin(testing::goForward().samples);
  ended->request->endAudio();
  ASSERT_TRUE(recognizer.waitUntilIdle(kBound));  // its partials and final wait in the queue
  ended->task->cancel();
  auto open = begin(testing::goForward().samples);
  open->task->cancel();
  EXPECT_TRUE(recognizer.waitUntilIdle(kBound));
  queue.runPending();
  EXPECT_TRUE(ended->collector.results.empty());
  EXPECT_TRUE(open->collector.results.empty());
}

// A task nobody holds still finishes while its request can end; with the request gone as well
// its worker stops without a final.
TEST_F(PocketSphinxRecognizerTest, a_released_task_goes_on_only_while_its_request_can_end) {
  auto released = begin(testing::goForward().samples);
  released->task.reset();
  released->request->endAudio();
  released->request.reset();
  ASSERT_TRUE(queue.runUntil([&] { return released->collector.ended(); }, kBound));
  EXPECT_EQ(released->collector.finalText(), kGoForward);

  auto abandoned = begin(testing::goForward().samples);
  abandoned->task.reset();
  abandoned->request.reset();
  EXPECT_TRUE(recognizer.waitUntilIdle(kBound));
  queue.runPending();
  EXPECT_FALSE(abandoned->collector.ended());
}

TEST_F(PocketSphinxRecognizerTest, a_second_task_runs_while_the_first_still_waits_for_audio) {
  auto waiting = begin(std::vector<int16_t>(8192, 0));
  EXPECT_EQ(recognize(testing::goForward().samples).finalText(), kGoForward);
  EXPECT_FALSE(waiting->collector.ended());
  waiting->task->cancel();
}

TEST_F(PocketSphinxRecognizerTest, a_request_of_another_recognizer_is_refused_with_an_error) {
  class ForeignRequest final : public RecognitionRequest {
    void append(const AudioBuffer&) override {}
    void endAudio() override {}
  };
  Collector c;
  auto task = recognizer.recognitionTask(std::make_shared<ForeignRequest>(), c.handler());
  ASSERT_TRUE(queue.runUntil([&] { return c.ended(); }, kBound));
  EXPECT_EQ(c.results.size(), 1u);
  EXPECT_NE(c.error, "");
}

TEST(PocketSphinxRecognizerLoadTest, a_model_that_fails_to_load_says_so_and_is_unavailable) {
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
  const bool ended = queue.runUntil([&] { return c.ended(); }, kBound);
  const std::string stderrText = ::testing::internal::GetCapturedStderr();
  std::remove(garbage.c_str());
  ASSERT_TRUE(ended);
  // pocketsphinx's own account of the failure is readable, not swallowed.
  EXPECT_NE(stderrText.find("[PocketSphinx] ERROR"), std::string::npos) << stderrText;
  EXPECT_EQ(c.finalText(), "<error: Speech model could not be loaded from /broken/model>");
  EXPECT_FALSE(recognizer.isAvailable());
}

// The capture thread's side: append, also into a full ring, and the tap that hands it on.
TEST(PocketSphinxRequestTest, append_allocates_nothing_even_when_the_ring_is_full) {
  {
    testing::AllocationScope counterWorks;
    auto probe = std::make_unique<int>(1);
    ASSERT_EQ(counterWorks.count(), 1u) << "the counting operator new is not linked in";
  }
  ThreadedMainQueue queue;
  PocketSphinxRecognizer recognizer(queue, debianModel());
  auto running = recognizer.makeRequest();
  Collector c;
  auto task = recognizer.recognitionTask(running, c.handler());
  PocketSphinxRequest full(16000);
  const std::function<void(const AudioBuffer&)> tap = [&running](const AudioBuffer& b) {
    if (running) running->append(b);
  };
  const auto samples = testing::goForward().samples;
  testing::AllocationScope scope;
  for (size_t at = 0; at + 4096 <= samples.size(); at += 4096) {
    const AudioBuffer buffer{samples.data() + at, 4096, AudioFormat{16000, 1}};
    tap(buffer);
    for (int i = 0; i < 8; ++i) full.append(buffer);
  }
  EXPECT_EQ(scope.count(), 0u);
  running->endAudio();
  ASSERT_TRUE(queue.runUntil([&] { return c.ended(); }, kBound));
  EXPECT_EQ(c.finalText(), kGoForward);
}

}  // namespace
}  // namespace quorvel::linux_audio
