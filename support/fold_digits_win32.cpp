#include <windows.h>

#include <climits>

#include "support/fold_digits.h"
#include "support/system_error.h"

namespace ostrivane {

FoldAnswer SystemFoldDigits(std::u16string_view text, std::span<char16_t> out) {
  if (text.size() > static_cast<std::size_t>(INT_MAX) ||
      out.size() > static_cast<std::size_t>(INT_MAX)) {
    return {0, kErrorInvalidParameter};
  }
  // char16_t and wchar_t are both UTF-16 code units on Windows.
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  const int length = FoldStringW(
      MAP_FOLDDIGITS, reinterpret_cast<const wchar_t*>(text.data()), static_cast<int>(text.size()),
      reinterpret_cast<wchar_t*>(out.data()), static_cast<int>(out.size()));
  if (length <= 0) return {0, GetLastError()};
  return {static_cast<std::size_t>(length), 0};
}

}  // namespace ostrivane
