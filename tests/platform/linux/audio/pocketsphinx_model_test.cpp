#include "platform/linux/audio/pocketsphinx_model.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "fakes/threaded_main_queue.h"
#include "platform/linux/audio/pocketsphinx_recognizer.h"

namespace quorvel::linux_audio {
namespace {
namespace fs = std::filesystem;

class PocketSphinxModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() /
           ("quorvel-models-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    userModels = root / "home/.config/quorvel/models";
    fs::create_directories(userModels);
  }
  void TearDown() override { fs::remove_all(root); }

  static void touch(const fs::path& file, const std::string& content = "x") {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << content;
  }
  static void makeAcousticModel(const fs::path& folder) {
    touch(folder / "mdef", "BMDF");
    for (const char* name : {"means", "variances", "transition_matrices"}) {
      touch(folder / name, "s3\nversion 1.0\n");
    }
  }
  // The layout Debian uses for en-us: <name>/<name>/mdef, <name>.lm.bin, <dict>.dict.
  static void makeModel(const fs::path& folder) {
    const std::string name = folder.filename().string();
    makeAcousticModel(folder / name);
    touch(folder / (name + ".lm.bin"));
    touch(folder / "words.dict");
  }

  fs::path root;
  fs::path userModels;
};

TEST_F(PocketSphinxModelTest, looks_for_the_locale_before_its_language_and_user_before_system) {
  const std::string system = std::string(kSystemSphinxModelDir) + "/en-us";
  auto english = findSphinxModel("en-US", {userModels.string(), kSystemSphinxModelDir});
  ASSERT_TRUE(english);  // Debian's model, with its word language model
  EXPECT_EQ(english->acousticModel, system + "/en-us");
  EXPECT_EQ(english->languageModel, system + "/en-us.lm.bin");
  EXPECT_EQ(english->dictionary, system + "/cmudict-en-us.dict");
  for (auto [made, locale] : {std::pair{"ja", "ja-JP"}, {"ja-JP", "ja-JP"}, {"en-us", "en-US"}}) {
    makeModel(userModels / made);
    auto found = findSphinxModel(locale, {userModels.string(), kSystemSphinxModelDir});
    EXPECT_EQ(found ? found->folder : "none", (userModels / made).string()) << locale;
  }
}

TEST_F(PocketSphinxModelTest, an_incomplete_or_malformed_folder_is_no_model) {
  makeAcousticModel(userModels / "de-DE/de-DE");
  touch(userModels / "de-DE/de-DE.lm.bin");  // no dictionary
  makeAcousticModel(userModels / "fr/fr");
  touch(userModels / "fr/fr-phone.lm.bin");  // phones only, no words
  touch(userModels / "fr/fr.dict");
  touch(userModels / "it/it.lm.bin");  // no acoustic model
  touch(userModels / "it/it.dict");
  // Garbage where the acoustic model should be: pocketsphinx would end the process on it.
  makeModel(userModels / "pt");
  touch(userModels / "pt/pt/mdef", "not a model definition");
  makeModel(userModels / "ru");
  touch(userModels / "ru/ru/means", "");
  for (const char* locale : {"de-DE", "fr-FR", "it-IT", "pt-BR", "ru-RU"}) {
    EXPECT_FALSE(findSphinxModel(locale, {userModels.string()})) << locale;
  }
}

TEST_F(PocketSphinxModelTest, identifiers_that_could_leave_the_model_folders_find_nothing) {
  makeModel(root / "escaped");
  for (const char* locale : {"", "../escaped", "..", "en-US/../../escaped", "/tmp"}) {
    EXPECT_TRUE(sphinxModelNames(locale).empty()) << locale;
    EXPECT_FALSE(findSphinxModel(locale, {userModels.string()})) << locale;
  }
  EXPECT_EQ(sphinxModelNames("zh_Hant_HK"),
            (std::vector<std::string>{"zh_Hant_HK", "zh-hant-hk", "zh-Hant-HK", "zh_hant_hk",
                                      "zh_Hant", "zh-hant", "zh-Hant", "zh_hant", "zh"}));
}

TEST_F(PocketSphinxModelTest, factory_gives_a_recognizer_only_where_a_model_is_installed) {
  testing::ThreadedMainQueue queue;
  FixedHomeDirectory home((root / "home").string());
  PocketSphinxRecognizerFactory factory(queue, home);
  EXPECT_TRUE(factory.recognizerFor("en-US"));
  EXPECT_FALSE(factory.recognizerFor("ko-KR"));
  EXPECT_FALSE(factory.recognizerFor(""));
  makeModel(userModels / "ko");
  EXPECT_TRUE(factory.recognizerFor("ko-KR"));
}

}  // namespace
}  // namespace quorvel::linux_audio
