#include "app/language_options.h"

namespace quorvel {

const std::vector<LanguageOption>& languageOptions() {
  static const std::vector<LanguageOption> options = {
      {"中文 (Chinese)", "zh-Hans", "zh"},
      {"English", "en-US", "en"},
      {"日本語 (Japanese)", "ja-JP", std::nullopt},
      {"한국어 (Korean)", "ko-KR", std::nullopt},
      {"Español (Spanish)", "es-ES", std::nullopt},
      {"Français (French)", "fr-FR", std::nullopt},
      {"Deutsch (German)", "de-DE", std::nullopt},
      {"Português (Portuguese)", "pt-BR", std::nullopt},
      {"Русский (Russian)", "ru-RU", std::nullopt},
      {"العربية (Arabic)", "ar-SA", std::nullopt},
      {"हिन्दी (Hindi)", "hi-IN", std::nullopt},
      {"Italiano (Italian)", "it-IT", std::nullopt},
      {"ภาษาไทย (Thai)", "th-TH", std::nullopt},
      {"Tiếng Việt (Vietnamese)", "vi-VN", std::nullopt},
      {"Bahasa (Indonesian)", "id-ID", std::nullopt},
      {"Türkçe (Turkish)", "tr-TR", std::nullopt},
      {"粵語 (Cantonese)", "zh-HK", std::nullopt},
  };
  return options;
}

}  // namespace quorvel
