// TEMPORARY stand-in until the real text routines arrive (dutil_text.cpp);
// delete this file then. FoldDigits here knows only ASCII and Arabic-Indic
// digits (U+0660..U+0669) besides removing U+206E and U+206F.
#include <string>
#include <string_view>

#include "support/dutil.h"

namespace ostrivane {

std::u16string RemoveChars(std::u16string_view text, std::u16string_view chars) {
  std::u16string result;
  result.reserve(text.size());
  for (const char16_t c : text) {
    if (chars.find(c) == std::u16string_view::npos) result.push_back(c);
  }
  return result;
}

std::size_t CountChar(std::u16string_view text, char16_t ch) noexcept {
  std::size_t count = 0;
  for (const char16_t c : text) count += c == ch ? 1 : 0;
  return count;
}

std::u16string FoldDigits(std::u16string_view text) {
  std::u16string result = RemoveChars(text, u"\u206E\u206F");
  for (char16_t& c : result) {
    if (c >= u'\u0660' && c <= u'\u0669') c = static_cast<char16_t>(u'0' + (c - u'\u0660'));
  }
  return result;
}

}  // namespace ostrivane
