// The plain text-to-number conversion under the tolerant one: one fixed
// decimal separator, ASCII digits only. The Variant runtime falls back on it
// with the process's decimal separator.
#pragma once

#include <string_view>

namespace ostrivane {

// Accepts exactly: spaces (U+0020), an optional sign, digits, optionally
// `decimalSeparator` and more digits (at least one digit or the separator in
// all), optionally "E"/"e" with an optional sign and digits (read only while
// the exponent is below 500), spaces, end. A NUL code unit ends the text.
// The value is formed in x87 extended precision; overflow fails, underflow
// gives 0. The double overload fails outside +-1.7e308, the float overload
// outside +-3.4e38. On failure `value` is left alone.
bool TryStrToFloat(std::u16string_view text, char16_t decimalSeparator, double& value);
bool TryStrToFloat(std::u16string_view text, char16_t decimalSeparator, float& value);

// The same form read into extended precision, without the range check.
bool TryStrToExtended(std::u16string_view text, char16_t decimalSeparator, long double& value);

}  // namespace ostrivane
