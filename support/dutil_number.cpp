// DUtil numbers: the plain and the locale-tolerant text-to-number conversions
// and the replacements for the Variant runtime's text-to-number slots.
#include "support/dutil_number.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "support/dutil.h"
#include "support/format_settings.h"
#include "support/variant.h"

namespace ostrivane {

namespace {

// Numbers are formed the way the x87 unit forms them: 64-bit significand,
// round to nearest. Both compilers (g++ and mingw-w64 g++) give long double
// that format on x86-64.
static_assert(std::numeric_limits<long double>::digits == 64,
              "the conversion needs x87 extended precision");

constexpr int kExponentReadLimit = 500;
constexpr long double kMaxDouble = 1.7e308L;
constexpr long double kMaxSingle = 3.4e38L;

// 10^(2^i); the literals are rounded once, by the compiler, to extended.
constexpr std::array<long double, 13> kBinaryPowersOfTen = {
    1e1L, 1e2L, 1e4L, 1e8L, 1e16L, 1e32L, 1e64L, 1e128L, 1e256L, 1e512L, 1e1024L, 1e2048L, 1e4096L};
constexpr std::int64_t kLargestTablePower = 4096;

// 10^n for n >= 0, infinity when it overflows extended precision.
long double PowerOfTen(std::int64_t n) noexcept {
  long double p = 1.0L;
  for (std::size_t bit = 0; n != 0; ++bit, n >>= 1) {
    if (bit == kBinaryPowersOfTen.size()) return std::numeric_limits<long double>::infinity();
    if ((n & 1) != 0) p *= kBinaryPowersOfTen[bit];
  }
  return p;
}

bool IsAsciiDigit(char16_t c) noexcept { return c >= u'0' && c <= u'9'; }
unsigned DigitValue(char16_t c) noexcept { return static_cast<unsigned>(c - u'0'); }

// The digits before and after the decimal mark as one integer. It is exact
// in 64 bits as long as it fits, then goes on in extended precision digit by
// digit, which gives the same value as extended precision all along (it is
// exact there too below 2^64).
class DigitAccumulator {
 public:
  // False once the integer has overflowed extended precision.
  bool Add(unsigned digit) noexcept {
    if (!extended_) {
      if (exact_ <= (std::numeric_limits<std::uint64_t>::max() - 9) / 10) {
        exact_ = exact_ * 10 + digit;
        return true;
      }
      wide_ = static_cast<long double>(exact_);
      extended_ = true;
    }
    wide_ = wide_ * 10.0L + static_cast<long double>(digit);
    return !std::isinf(wide_);
  }
  [[nodiscard]] long double Value() const noexcept {
    return extended_ ? wide_ : static_cast<long double>(exact_);
  }

 private:
  std::uint64_t exact_ = 0;
  long double wide_ = 0.0L;
  bool extended_ = false;
};

// `magnitude` * 10^scale; infinity on overflow, 0 (or a denormal) on underflow.
long double Scale(long double magnitude, std::int64_t scale) noexcept {
  if (scale > 0) {
    // The exponent is read only up to 4999 and the fraction digits only
    // lower the scale; the magnitude is a non-zero integer here, so an
    // infinite power means an overflowing result anyway.
    return magnitude * PowerOfTen(scale);
  }
  std::int64_t down = -scale;  // may be very large for many fraction digits
  while (down > kLargestTablePower && magnitude != 0.0L) {
    magnitude /= kBinaryPowersOfTen.back();
    down -= kLargestTablePower;
  }
  if (magnitude == 0.0L) return magnitude;
  return magnitude / PowerOfTen(down);
}

template <typename Float>
bool TryStrToBounded(std::u16string_view text, char16_t decimalSeparator, Float& value,
                     long double bound) {
  long double extended = 0.0L;
  if (!TryStrToExtended(text, decimalSeparator, extended)) return false;
  if (extended < -bound || extended > bound) return false;
  value = static_cast<Float>(extended);
  return true;
}

std::size_t Position(const std::u16string& s, char16_t ch) noexcept {
  const std::size_t at = s.find(ch);
  return at == std::u16string::npos ? 0 : at + 1;
}

template <typename Float>
bool TryStrToFloatTolerantImpl(std::u16string_view text, Float& value) {
  std::u16string s = FoldDigits(text);
  // Several of one mark: they are thousands separators.
  if (CountChar(s, u'.') >= 2) s = RemoveChars(s, u".");
  if (CountChar(s, u',') >= 2) s = RemoveChars(s, u",");
  // Both marks: the earlier one separates thousands, the later one is the
  // decimal mark. One mark alone is the decimal mark.
  const std::size_t dot = Position(s, u'.');
  const std::size_t comma = Position(s, u',');
  if (comma > dot) {
    s = RemoveChars(s, u".");
  } else if (dot > comma) {
    s = RemoveChars(s, u",");
  }
  const char16_t decimal = DecimalSeparator();
  for (char16_t& c : s) {
    if (c == u'.') c = decimal;
  }
  for (char16_t& c : s) {
    if (c == u',') c = decimal;
  }
  return TryStrToFloat(s, decimal, value);
}

// Indexed by the success flag.
constexpr std::array<HResult, 2> kR8Results = {kDispETypeMismatch, kHResultOk};
constexpr std::array<HResult, 2> kR4Results = {kDispETypeMismatch, kHResultOk};

std::u16string_view TerminatedText(const char16_t* text) noexcept {
  return text == nullptr ? std::u16string_view() : std::u16string_view(text);
}

}  // namespace

bool TryStrToExtended(std::u16string_view text, char16_t decimalSeparator, long double& value) {
  if (const std::size_t nul = text.find(u'\0'); nul != std::u16string_view::npos) {
    text = text.substr(0, nul);
  }
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n && text[i] == u' ') ++i;
  bool negative = false;
  if (i < n && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  bool mantissa = false;
  DigitAccumulator digits;
  for (; i < n && IsAsciiDigit(text[i]); ++i) {
    if (!digits.Add(DigitValue(text[i]))) return false;
    mantissa = true;
  }
  std::int64_t fractionDigits = 0;
  if (i < n && text[i] == decimalSeparator) {
    ++i;
    mantissa = true;
    for (; i < n && IsAsciiDigit(text[i]); ++i) {
      if (!digits.Add(DigitValue(text[i]))) return false;
      ++fractionDigits;
    }
  }
  if (!mantissa) return false;
  std::int64_t exponent = 0;
  if (i < n && (text[i] == u'E' || text[i] == u'e')) {
    ++i;
    bool negativeExponent = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
      negativeExponent = text[i] == u'-';
      ++i;
    }
    for (; i < n && exponent < kExponentReadLimit && IsAsciiDigit(text[i]); ++i) {
      exponent = exponent * 10 + DigitValue(text[i]);
    }
    if (negativeExponent) exponent = -exponent;
  }
  while (i < n && text[i] == u' ') ++i;
  if (i != n) return false;

  long double magnitude = digits.Value();
  if (magnitude != 0.0L) {
    magnitude = Scale(magnitude, exponent - fractionDigits);
    if (std::isinf(magnitude) || std::isnan(magnitude)) return false;
  }
  value = negative ? -magnitude : magnitude;
  return true;
}

bool TryStrToFloat(std::u16string_view text, char16_t decimalSeparator, double& value) {
  return TryStrToBounded(text, decimalSeparator, value, kMaxDouble);
}

bool TryStrToFloat(std::u16string_view text, char16_t decimalSeparator, float& value) {
  return TryStrToBounded(text, decimalSeparator, value, kMaxSingle);
}

bool TryStrToFloatTolerant(std::u16string_view text, double& value) {
  return TryStrToFloatTolerantImpl(text, value);
}

bool TryStrToFloatTolerant(std::u16string_view text, float& value) {
  return TryStrToFloatTolerantImpl(text, value);
}

HResult VarR8FromStrTolerant(const char16_t* text, std::uint32_t /*locale*/,
                             std::uint32_t /*flags*/, double* value) {
  double result = value != nullptr ? *value : 0.0;
  const bool ok = TryStrToFloatTolerant(TerminatedText(text), result);
  if (ok && value != nullptr) *value = result;
  return kR8Results[ok ? 1 : 0];
}

HResult VarR4FromStrTolerant(const char16_t* text, std::uint32_t /*locale*/,
                             std::uint32_t /*flags*/, float* value) {
  float result = value != nullptr ? *value : 0.0F;
  const bool ok = TryStrToFloatTolerant(TerminatedText(text), result);
  if (ok && value != nullptr) *value = result;
  return kR4Results[ok ? 1 : 0];
}

void InstallTolerantVariantConversions() {
  SetVarR8FromStrSlot(&VarR8FromStrTolerant);
  SetVarR4FromStrSlot(&VarR4FromStrTolerant);
}

}  // namespace ostrivane
