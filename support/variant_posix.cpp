// POSIX: stand-ins for the OLE Automation text-to-number conversions that the
// Variant runtime starts with on Windows. The locale and flags are ignored;
// the process's decimal separator D takes the place of the locale's.
//
// SystemVarR8FromStr / SystemVarR4FromStr: the plain conversion with D.
//
// SystemVarI4FromStr accepts what matters of VarI4FromStr's number form:
// white space, an optional "+" or "-", digits with thousands separators
// ("," or, when D is ",", "."), optionally D and fraction digits, white
// space. At least one digit is needed. The fraction rounds to the nearest
// integer, ties to even. A value outside the 32-bit range answers
// DISP_E_OVERFLOW. Hexadecimal, octal, currency signs, parentheses,
// trailing signs and exponents are not accepted (exponents are left to the
// text-to-double slot, which the runtime asks next).
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

#include "support/dutil_number.h"
#include "support/format_settings.h"
#include "support/variant_platform.h"

namespace ostrivane::platform {

namespace {

bool IsWhite(char16_t c) noexcept { return c == u' ' || (c >= u'\t' && c <= u'\r'); }
bool IsDigit(char16_t c) noexcept { return c >= u'0' && c <= u'9'; }

std::u16string_view Terminated(const char16_t* text) noexcept {
  return text == nullptr ? std::u16string_view() : std::u16string_view(text);
}

template <typename Float>
HResult PlainConversion(const char16_t* text, Float* value) {
  Float result{};
  if (value == nullptr || !TryStrToFloat(Terminated(text), DecimalSeparator(), result)) {
    return kDispETypeMismatch;
  }
  *value = result;
  return kHResultOk;
}

}  // namespace

HResult SystemVarR8FromStr(const char16_t* text, std::uint32_t /*locale*/, std::uint32_t /*flags*/,
                           double* value) {
  return PlainConversion(text, value);
}

HResult SystemVarR4FromStr(const char16_t* text, std::uint32_t /*locale*/, std::uint32_t /*flags*/,
                           float* value) {
  return PlainConversion(text, value);
}

HResult SystemVarI4FromStr(const char16_t* text, std::uint32_t /*locale*/, std::uint32_t /*flags*/,
                           std::int32_t* value) {
  const std::u16string_view s = Terminated(text);
  const char16_t decimal = DecimalSeparator();
  const char16_t thousands = decimal == u',' ? u'.' : u',';
  const std::size_t n = s.size();
  std::size_t i = 0;
  while (i < n && IsWhite(s[i])) ++i;
  bool negative = false;
  if (i < n && (s[i] == u'+' || s[i] == u'-')) {
    negative = s[i] == u'-';
    ++i;
  }
  // Anything beyond 2^32 overflows; the magnitude stops growing there.
  constexpr std::uint64_t kCap = std::uint64_t{1} << 32;
  std::uint64_t magnitude = 0;
  bool anyDigit = false;
  for (; i < n && (IsDigit(s[i]) || (anyDigit && s[i] == thousands)); ++i) {
    if (s[i] == thousands) continue;
    anyDigit = true;
    if (magnitude < kCap) magnitude = magnitude * 10 + static_cast<unsigned>(s[i] - u'0');
  }
  // 0: no fraction, 1: below one half, 2: exactly one half, 3: above it.
  int fraction = 0;
  if (i < n && s[i] == decimal) {
    ++i;
    bool first = true;
    for (; i < n && IsDigit(s[i]); ++i, first = false) {
      anyDigit = true;
      const int digit = s[i] - u'0';
      if (first) {
        fraction = digit > 5 ? 3 : digit == 5 ? 2 : 1;
      } else if (fraction == 2 && digit != 0) {
        fraction = 3;
      }
    }
  }
  while (i < n && IsWhite(s[i])) ++i;
  if (!anyDigit || i != n) return kDispETypeMismatch;
  if (fraction == 3 || (fraction == 2 && magnitude % 2 == 1)) ++magnitude;
  const std::uint64_t limit =
      negative ? std::uint64_t{1} << 31 : std::uint64_t{std::numeric_limits<std::int32_t>::max()};
  if (magnitude > limit) return kDispEOverflow;
  if (value == nullptr) return kDispETypeMismatch;
  *value = negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                    : static_cast<std::int32_t>(magnitude);
  return kHResultOk;
}

}  // namespace ostrivane::platform
