#include <algorithm>
#include <iterator>

#include "support/fold_digits.h"
#include "support/system_error.h"

namespace ostrivane {
namespace {

// The code points first..last fold to the digits firstDigit, firstDigit + 1, ...
struct DigitRun {
  char32_t first;
  char32_t last;
  char16_t firstDigit;
};

#include "support/fold_digits_table.inc"

constexpr bool IsWellFormed() {
  char32_t next = 0;  // first code point that a run may start at
  for (const DigitRun& run : kDigitRuns) {
    if (run.first < next || run.last < run.first || run.firstDigit < u'0' ||
        run.firstDigit + (run.last - run.first) > u'9') {
      return false;
    }
    next = run.last + 1;
  }
  return true;
}
static_assert(IsWellFormed(), "malformed digit folding table");

// The ASCII digit that `cp` folds to, or 0 when it stays.
char16_t FoldedDigit(char32_t cp) noexcept {
  // The first run whose last code point is not below cp.
  const auto* run = std::lower_bound(std::begin(kDigitRuns), std::end(kDigitRuns), cp,
                                     [](const DigitRun& r, char32_t c) { return r.last < c; });
  if (run == std::end(kDigitRuns) || cp < run->first) return 0;
  return static_cast<char16_t>(run->firstDigit + (cp - run->first));
}

bool IsHighSurrogate(char16_t u) noexcept { return u >= 0xD800 && u < 0xDC00; }
bool IsLowSurrogate(char16_t u) noexcept { return u >= 0xDC00 && u < 0xE000; }

// Folds `text` and hands every folded code unit to `emit`.
template <typename Emit>
void Fold(std::u16string_view text, Emit&& emit) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      const char32_t cp = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                          (static_cast<char32_t>(text[i + 1]) - 0xDC00);
      if (const char16_t digit = FoldedDigit(cp)) {
        emit(digit);
      } else {
        emit(unit);
        emit(text[i + 1]);
      }
      ++i;
    } else if (const char16_t digit = FoldedDigit(unit)) {
      emit(digit);
    } else {
      emit(unit);
    }
  }
}

}  // namespace

FoldAnswer TableFoldDigits(std::u16string_view text, std::span<char16_t> out) {
  if (text.empty()) return {0, kErrorInvalidParameter};
  std::size_t length = 0;
  if (out.empty()) {
    Fold(text, [&length](char16_t) { ++length; });
    return {length, 0};
  }
  bool fits = true;
  Fold(text, [&](char16_t unit) {
    if (length < out.size()) {
      out[length++] = unit;
    } else {
      fits = false;
    }
  });
  if (!fits) return {0, kErrorInsufficientBuffer};
  return {length, 0};
}

}  // namespace ostrivane
