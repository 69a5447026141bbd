// DUtil's text routines: removing and counting characters, folding digits.
#include <algorithm>
#include <iterator>

#include "support/dutil.h"
#include "support/fold_digits.h"
#include "support/system_error.h"
#include "support/text_platform.h"

namespace ostrivane {
namespace {

// The digit-shape controls that the folding leaves alone.
constexpr char16_t kNationalDigitShapes = 0x206E;
constexpr char16_t kNominalDigitShapes = 0x206F;

}  // namespace

std::u16string RemoveChars(std::u16string_view text, std::u16string_view chars) {
  // Removing each character of `chars` in turn removes every code unit that
  // any of them equals; one pass does the same.
  std::u16string kept;
  kept.reserve(text.size());
  std::copy_if(text.begin(), text.end(), std::back_inserter(kept),
               [chars](char16_t unit) { return chars.find(unit) == std::u16string_view::npos; });
  return kept;
}

std::size_t CountChar(std::u16string_view text, char16_t ch) noexcept {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), ch));
}

std::u16string FoldDigitsWith(std::u16string_view text, DigitFold fold) {
  constexpr char16_t kShapeControls[] = {kNationalDigitShapes, kNominalDigitShapes};
  const std::u16string plain = RemoveChars(text, std::u16string_view(kShapeControls, 2));
  const FoldAnswer needed = fold(plain, {});
  if (needed.length == 0) return {};
  std::u16string folded(needed.length, u'\0');
  const FoldAnswer done = fold(plain, folded);
  if (done.length == 0) {
    if (done.error == kErrorOutOfMemory || done.error == kErrorInsufficientBuffer) {
      throw ESystemError(done.error);
    }
    return {};
  }
  folded.resize(std::min(done.length, folded.size()));
  return folded;
}

std::u16string FoldDigits(std::u16string_view text) {
  return FoldDigitsWith(text, platform::SystemFoldDigits);
}

}  // namespace ostrivane
