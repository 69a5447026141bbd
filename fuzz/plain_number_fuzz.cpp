// The plain text-to-number conversion on arbitrary text, against a
// reference of its own: the accepted form read from the documented grammar,
// and the value computed by the C library's strtold (correctly rounded) from
// the same digits and exponent. The extended value must lie within the
// rounding that forming it in extended precision can add; the double and
// single overloads must be that value rounded, within their bounds, and
// leave the caller's value alone when they fail.
//
// Input: the first byte picks the decimal separator ("." and "," stand for
// themselves, any other byte for the Arabic decimal separator U+066B); the
// rest is the text.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/fuzz_input.h"
#include "support/dutil_number.h"

namespace {

using ostrivane::fuzz::Check;

// The parts of an accepted text.
struct Form {
  bool negative = false;
  std::string digits;  // before and after the separator, in order
  std::int64_t fractionDigits = 0;
  std::int64_t exponent = 0;
};

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Spaces, an optional sign, digits, optionally the separator and digits (at
// least one digit or the separator), optionally E or e with an optional
// sign and digits read while the exponent is below 500, spaces, end. A NUL
// ends the text.
std::optional<Form> ReadForm(std::u16string_view text, char16_t separator) {
  text = text.substr(0, text.find(u'\0'));
  std::size_t i = 0;
  const auto at = [&](char16_t c) { return i < text.size() && text[i] == c; };
  const auto digitAt = [&] { return i < text.size() && IsDigit(text[i]); };
  Form form;
  while (at(u' ')) ++i;
  if (at(u'+') || at(u'-')) form.negative = text[i++] == u'-';
  bool mantissa = false;
  for (; digitAt(); ++i, mantissa = true) form.digits += static_cast<char>(text[i]);
  if (at(separator)) {
    ++i;
    mantissa = true;
    for (; digitAt(); ++i, ++form.fractionDigits) form.digits += static_cast<char>(text[i]);
  }
  if (!mantissa) return std::nullopt;
  if (at(u'E') || at(u'e')) {
    ++i;
    bool negative = false;
    if (at(u'+') || at(u'-')) negative = text[i++] == u'-';
    std::int64_t exponent = 0;
    for (; digitAt() && exponent < 500; ++i) exponent = exponent * 10 + (text[i] - u'0');
    form.exponent = negative ? -exponent : exponent;
  }
  while (at(u' ')) ++i;
  if (i != text.size()) return std::nullopt;
  return form;
}

// Digits of the integer that all digits of `form` make, leading zeros left out.
std::size_t SignificantDigits(const Form& form) {
  const std::size_t first = form.digits.find_first_not_of('0');
  return first == std::string::npos ? 0 : form.digits.size() - first;
}

constexpr long double kTwoToMinus63 = 1.0842021724855044340e-19L;

// |got - want| within `ulps` units of 2^-63 relative to `want`.
bool Close(long double got, long double want, long double ulps) {
  return std::fabs(got - want) <= ulps * kTwoToMinus63 * std::fabs(want);
}

template <typename Float>
void CheckBounded(std::u16string_view text, char16_t separator, bool extendedOk,
                  long double extended, std::optional<long double> reference, long double bound,
                  const char* name) {
  constexpr Float kUntouched = 777;
  Float value = kUntouched;
  const bool ok = ostrivane::TryStrToFloat(text, separator, value);
  const bool within = extendedOk && extended >= -bound && extended <= bound;
  Check(ok == within, name);
  if (ok) {
    Check(value == static_cast<Float>(extended), "the value is the extended one, rounded");
  } else {
    Check(value == kUntouched, "a failed conversion leaves the value alone");
  }
  // Away from the bound, the reference alone decides.
  if (reference) {
    const long double margin = bound * 1e-15L;
    if (std::fabs(*reference) < bound - margin) Check(ok, "a value within the bound converts");
    if (std::fabs(*reference) > bound + margin) Check(!ok, "a value beyond the bound fails");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ostrivane::fuzz::Input input(data, size);
  const std::uint8_t choice = input.Byte();
  const char16_t separator = choice == '.' || choice == ',' ? choice : u'\u066B';
  const std::u16string text = ostrivane::fuzz::TextOf(input.Rest());

  long double extended = 0;
  const bool extendedOk = ostrivane::TryStrToExtended(text, separator, extended);
  const auto form = ReadForm(text, separator);

  // The reference value, when the reference can tell: nothing for a text
  // outside the form, and nothing near the limits of extended precision,
  // where the last rounding step decides.
  std::optional<long double> reference;
  bool decided = true;
  if (form) {
    const std::size_t significant = SignificantDigits(*form);
    // The power of ten of the leading digit.
    const std::int64_t leading =
        static_cast<std::int64_t>(significant) - 1 + form->exponent - form->fractionDigits;
    const std::string spelled = std::string(form->negative ? "-" : "") +
                                (form->digits.empty() ? "0" : form->digits) + "e" +
                                std::to_string(form->exponent - form->fractionDigits);
    errno = 0;
    const long double value = std::strtold(spelled.c_str(), nullptr);
    const bool overflow = errno == ERANGE && std::isinf(value);
    const long double largest = std::numeric_limits<long double>::max();  // 1.19e4932
    // Near the limits of extended precision the last rounding decides: when
    // the integer of the digits may just overflow, and next to the largest
    // value.
    const bool nearLimit = (significant >= 4932 && significant <= 4934) || overflow ||
                           std::fabs(value) > largest * (1 - 1e-15L);
    if (significant > 4934) {
      Check(!extendedOk, "an integer of digits beyond extended precision fails");
    } else if (significant > 0 && leading >= 4933) {
      Check(overflow && !extendedOk, "a value beyond extended precision fails");
    } else if (nearLimit) {
      decided = false;
    } else {
      reference = value;
      Check(extendedOk, "a text of the form converts; underflow is no failure");
      if (significant == 0) {
        Check(extended == 0 && std::signbit(extended) == form->negative,
              "zero digits give zero with the text's sign");
      } else if (std::fabs(value) >= 1e-4900L) {
        // Below that, extended precision's denormals lose digits by design.
        const auto ulps = static_cast<long double>(significant + 32);
        Check(Close(extended, value, ulps), "the value is the text's number");
      }
    }
  } else {
    Check(!extendedOk, "a text outside the form fails");
  }
  if (!decided) return 0;

  CheckBounded<double>(text, separator, extendedOk, extended, reference, 1.7e308L,
                       "double: converts exactly when within +-1.7e308");
  CheckBounded<float>(text, separator, extendedOk, extended, reference, 3.4e38L,
                      "single: converts exactly when within +-3.4e38");
  return 0;
}
