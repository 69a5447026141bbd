// Without the system's folding: the table taken from it.
#include "support/fold_digits.h"

namespace ostrivane {

FoldAnswer SystemFoldDigits(std::u16string_view text, std::span<char16_t> out) {
  return TableFoldDigits(text, out);
}

}  // namespace ostrivane
