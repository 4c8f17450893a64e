#include "platform/linux/audio/pocketsphinx_recognizer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
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
using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

const std::string kGoForward = "go forward ten meters";

class PocketSphinxRecognizerTest : public ::testing::Test {
 protected:
  // Feeds the samples in blocks of 4096 frames, as the capture thread does (which must not
  // allocate, also into a full ring), ends the audio and returns all the task delivered, also
  // after its end: "partial: …", "final: …" or "error: …".
  Lines recognize(PocketSphinxRecognizer& recognizer, const std::vector<int16_t>& samples,
                  bool partials = true, std::shared_ptr<RecognitionRequest> request = nullptr) {
    if (!request) request = recognizer.makeRequest();
    request->shouldReportPartialResults = partials;
    Lines log;
    auto task = recognizer.recognitionTask(request, [&log](auto& result, auto& error) {
      log.push_back(error ? "error: " + error->description
                          : (result->isFinal ? "final: " : "partial: ") + result->formattedString);
    });
    testing::AllocationScope scope;
    for (size_t at = 0; at < samples.size(); at += 4096) {
      request->append(
          AudioBuffer{samples.data() + at, std::min<size_t>(4096, samples.size() - at), {}});
    }
    EXPECT_EQ(scope.count(), 0u);
    request->endAudio();
    // Generous: a loaded machine decodes several times slower than real time.
    EXPECT_TRUE(queue.runUntil([&] { return !log.empty() && log.back()[0] != 'p'; }, 90s));
    EXPECT_TRUE(recognizer.waitUntilIdle(90s));
    queue.runPending();
    if (log.empty()) log.push_back("nothing");
    return log;
  }

  testing::ThreadedMainQueue queue;
  PocketSphinxRecognizer debian{queue, *findSphinxModel("en-US", {kSystemSphinxModelDir})};
};

// Each input ends in one final text or an error, after partials that each say something new.
TEST_F(PocketSphinxRecognizerTest, each_input_ends_in_its_final_text_or_an_error_after_partials) {
  const auto speech = testing::goForward().samples;
  // Cut right after "meters": its end arrives in a short last buffer, which is decoded too.
  const auto cut = testing::cutAfterSpeech(speech, 0.05);
  ASSERT_NE(cut.size() % 4096, 0u);
  struct Row {
    std::string last;
    std::vector<int16_t> samples;
    bool partials = true;
    std::shared_ptr<RecognitionRequest> request = nullptr;
  };
  const Row rows[] = {
      {"final: " + kGoForward, cut},
      {"final: " + kGoForward, speech, false},
      {"final: ", std::vector<int16_t>(16000, 0)},
      {"final: ", {}},
      // A ring with no room left loses audio: the task says so instead of leaving a gap.
      {"error: Audio was lost: speech recognition could not keep up",
       std::vector<int16_t>(64 * 4096, 0), true, std::make_shared<PocketSphinxRequest>(16000)},
  };
  for (const Row& row : rows) {
    const Lines log = recognize(debian, row.samples, row.partials, row.request);
    EXPECT_EQ(log.back(), row.last);
    for (size_t i = 0; i + 1 < log.size(); ++i) {
      EXPECT_TRUE(log[i].starts_with("partial: ") && (i == 0 || log[i] != log[i - 1])) << log[i];
    }
    EXPECT_TRUE(row.partials ? log.size() > 2 || !row.last.ends_with("meters") : log.size() == 1);
  }
}

// The five sentences as one dictation with pauses: each pause ends an utterance, and the final
// joins them all.
TEST_F(PocketSphinxRecognizerTest, word_error_rate_over_the_librivox_sentences_stays_under_half) {
  std::vector<int16_t> dictation;
  std::string reference = "final:";
  for (const auto& sentence : testing::librivox()) {
    dictation.insert(dictation.end(), sentence.samples.begin(), sentence.samples.end());
    dictation.insert(dictation.end(), 16000, int16_t{0});
    reference += " " + sentence.transcript;
  }
  const std::string heard = recognize(debian, dictation, false).back();
  const double words = testing::words(reference).size() - 1.0;  // none: no rate, a failure
  EXPECT_LT(testing::wordErrors(reference, heard) / words, 0.5) << heard;
}

// Which model the factory's recogniser for a locale uses, told apart by how a task on it ends:
// user models here have a language model that does not load, and the error names the folder.
TEST_F(PocketSphinxRecognizerTest, factory_uses_the_most_specific_complete_model_users_first) {
  const fs::path home = ::testing::TempDir() + "quorvel-models-" + std::to_string(::getpid());
  const fs::path models = home / ".config/quorvel/models";
  const fs::path debianModel = fs::path(kSystemSphinxModelDir) / "en-us";
  // Debian's layout: <name>/<name>/ (the acoustic model), <name>.lm.bin and a dictionary; the
  // acoustic model's file `spoilt` is left empty.
  auto make = [&](const fs::path& folder, const std::string& spoilt) {
    const fs::path acoustic = folder / folder.filename();
    fs::create_directories(acoustic);
    for (const auto& file : fs::directory_iterator(debianModel / "en-us")) {
      const fs::path copy = acoustic / file.path().filename();
      if (copy.filename() == spoilt) std::ofstream{copy};
      if (copy.filename() != spoilt) fs::create_symlink(file, copy);
    }
    fs::create_symlink(debianModel / "cmudict-en-us.dict", folder / "a.dict");
    std::ofstream(folder / (folder.filename().string() + ".lm.bin")) << "not a language model";
  };
  const std::string user = "error: Speech model could not be loaded from " + models.string() + "/";
  const struct {
    std::string locale, folder, spoilt, outcome;
  } rows[] = {
      {"en-US", "", "", "final: " + kGoForward},  // Debian's, with its word language model
      {"ja-JP", "ja", "", user + "ja"},
      {"ja-JP", "ja-JP", "", user + "ja-JP"},
      {"en-US", "en-us", "", user + "en-us"},
      {"pt-BR", "pt", "mdef", "none"},  // pocketsphinx would end the process on it
      {"../escaped", "../escaped", "", "none"},
      {"", "", "", "none"},
  };
  FixedHomeDirectory homeDirectory(home.string());
  PocketSphinxRecognizerFactory factory(queue, homeDirectory);
  for (const auto& row : rows) {
    if (!row.folder.empty()) make(models / row.folder, row.spoilt);
    auto recognizer =
        std::static_pointer_cast<PocketSphinxRecognizer>(factory.recognizerFor(row.locale));
    std::string outcome = "none";
    if (recognizer) outcome = recognize(*recognizer, testing::goForward().samples).back();
    EXPECT_EQ(outcome, row.outcome) << row.locale;
    EXPECT_TRUE(!recognizer || recognizer->isAvailable() != outcome.starts_with("error"));
  }
  fs::remove_all(home);
}

// Cancelled: nothing more arrives, not even the final already queued. Let go after its audio
// ended: the final still arrives. Let go with its request before the end: the worker stops.
TEST_F(PocketSphinxRecognizerTest, a_cancelled_task_says_nothing_and_one_let_go_still_finishes) {
  const auto speech = testing::goForward().samples;
  const struct {
    std::string way;
    std::vector<std::string> heard;  // what the log may end with
  } rows[] = {{"cancel", {"nothing"}},
              {"let go", {"final: " + kGoForward}},
              {"abandon", {"nothing", "partial"}}};
  for (const auto& row : rows) {
    auto request = debian.makeRequest();
    Lines log;
    auto task = debian.recognitionTask(request, [&log](auto& result, auto& error) {
      log.push_back(error             ? "error"
                    : result->isFinal ? "final: " + result->formattedString
                                      : "partial");
    });
    request->append(AudioBuffer{speech.data(), speech.size(), {}});
    if (row.way != "abandon") request->endAudio();
    if (row.way == "cancel" && debian.waitUntilIdle(90s)) task->cancel();  // its final queued
    if (row.way != "cancel") task.reset();
    if (row.way == "abandon") request.reset();
    EXPECT_TRUE(debian.waitUntilIdle(90s)) << row.way;
    queue.runPending();
    const std::string last = log.empty() ? "nothing" : log.back();
    EXPECT_NE(std::find(row.heard.begin(), row.heard.end(), last), row.heard.end())
        << row.way << ": " << last;
  }
}

}  // namespace
}  // namespace quorvel::linux_audio
