// The dictation languages the context menu offers, in menu order.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorvel {

struct LanguageOption {
  std::string title;
  std::string locale;                 // handed to the speech recogniser
  std::optional<std::string> uiLang;  // the page's interface language, for the two it has
};

const std::vector<LanguageOption>& languageOptions();

}  // namespace quorvel
