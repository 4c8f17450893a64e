#include "speech/grapheme_count.h"

#include <memory>

#include <unicode/brkiter.h>
#include <unicode/unistr.h>

namespace quorvel {
namespace {

std::unique_ptr<icu::BreakIterator> characterBreaks(const icu::UnicodeString& text) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> breaks(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  if (U_FAILURE(status) || !breaks) return nullptr;
  breaks->setText(text);
  return breaks;
}

}  // namespace

size_t countCharacters(std::string_view utf8) {
  if (utf8.empty()) return 0;
  icu::UnicodeString text = icu::UnicodeString::fromUTF8(
      icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
  auto breaks = characterBreaks(text);
  if (!breaks) return static_cast<size_t>(text.countChar32());
  size_t count = 0;
  for (int32_t at = breaks->next(); at != icu::BreakIterator::DONE; at = breaks->next()) ++count;
  return count;
}

std::string firstCharacters(std::string_view utf8, size_t count) {
  icu::UnicodeString text = icu::UnicodeString::fromUTF8(
      icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
  auto breaks = characterBreaks(text);
  int32_t end = text.length();
  if (breaks) {
    int32_t at = breaks->first();
    for (size_t taken = 0; taken < count && at != icu::BreakIterator::DONE; ++taken) {
      at = breaks->next();
    }
    if (at != icu::BreakIterator::DONE) end = at;
  }
  std::string out;
  text.tempSubString(0, end).toUTF8String(out);
  return out;
}

}  // namespace quorvel
