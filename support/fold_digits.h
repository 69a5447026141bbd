// Digit folding in the manner of the system's (FoldStringW with
// MAP_FOLDDIGITS): the shape of a fold, and the table-driven folding that
// stands in for the system's where it has none. FoldDigits (support/dutil.h)
// is built on the system's, platform::SystemFoldDigits
// (support/text_platform.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace ostrivane {

// What a fold answers: the number of code units of the folded text (written,
// or needed for a length query); 0 when it failed, with the system's error
// number in `error`.
struct FoldAnswer {
  std::size_t length = 0;
  std::uint32_t error = 0;
};

// A fold in FoldStringW's manner: an empty `out` asks for the folded length;
// otherwise the folded text is written to `out`, which must be large enough
// (else 0 with kErrorInsufficientBuffer). An empty `text` fails with
// kErrorInvalidParameter.
using DigitFold = FoldAnswer (*)(std::u16string_view text, std::span<char16_t> out);

// Folding by the table taken from the system's folding
// (tools/gen_fold_digits_table.cpp): every digit of every script, superscript,
// subscript and circled digits among them, becomes the ASCII digit of the same
// value; a surrogate pair that encodes a digit becomes one code unit.
// Everything else, lone surrogates included, stays.
FoldAnswer TableFoldDigits(std::u16string_view text, std::span<char16_t> out);

// FoldDigits with the given fold in place of the system's.
std::u16string FoldDigitsWith(std::u16string_view text, DigitFold fold);

}  // namespace ostrivane
