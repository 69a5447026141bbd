// Variant: storage, type codes, the runtime's conversions and its two
// text-to-number slots.
#include "support/variant.h"

#include <array>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>

#include "support/dutil_number.h"
#include "support/format_settings.h"
#include "support/variant_platform.h"

namespace ostrivane {

namespace {

// Filled with the system's conversions before any start-up code runs
// (constant initialisation).
std::atomic<VarR8FromStrFunc> g_varR8FromStr{&platform::SystemVarR8FromStr};
std::atomic<VarR4FromStrFunc> g_varR4FromStr{&platform::SystemVarR4FromStr};

std::string FormatError(std::string_view pattern, VarType from, VarType to) {
  // One name at a time: the text of an unnamed code lasts until the next call.
  std::string text(pattern);
  for (const VarType type : {from, to}) {
    text.replace(text.find("%s"), 2, VarTypeAsText(type));
  }
  return text;
}

[[noreturn]] void CastError(VarType from, VarType to) { throw EVariantTypeCastError(from, to); }
[[noreturn]] void OverflowError(VarType from, VarType to) { throw EVariantOverflowError(from, to); }

// Nearest integer, ties to even, as the x87 unit rounds by default; NaN
// stays NaN, infinities stay infinite.
double RoundHalfEven(double x) noexcept {
  if (!std::isfinite(x)) return x;
  const double down = std::floor(x);
  const double rest = x - down;  // exact
  if (rest > 0.5 || (rest == 0.5 && std::fmod(down, 2.0) != 0.0)) return down + 1.0;
  return down;
}

// `x` rounded (ties to even) into Int64; overflow error when it does not fit.
std::int64_t RoundToInt64(double x, VarType from, VarType to) {
  const double r = RoundHalfEven(x);
  constexpr double kTwoTo63 = 9223372036854775808.0;
  if (!(r >= -kTwoTo63 && r < kTwoTo63)) OverflowError(from, to);
  return static_cast<std::int64_t>(r);
}

// Currency (scaled by 10000) to the nearest integer, ties to even.
std::int64_t RoundCurrency(CurrencyValue c) noexcept {
  std::int64_t whole = c.scaled / 10000;
  const std::int64_t rest = c.scaled % 10000;
  const bool odd = whole % 2 != 0;
  if (rest > 5000 || (rest == 5000 && odd)) ++whole;
  if (rest < -5000 || (rest == -5000 && odd)) --whole;
  return whole;
}

bool IsDigit(char16_t c) noexcept { return c >= u'0' && c <= u'9'; }

// Spaces, an optional sign and decimal digits filling the whole text, within
// Int64.
bool TryReadDecimalInt64(std::u16string_view text, std::int64_t& value) noexcept {
  std::size_t i = 0;
  while (i < text.size() && text[i] == u' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  if (i == text.size()) return false;
  const std::uint64_t limit =
      negative ? std::uint64_t{1} << 63 : std::uint64_t{std::numeric_limits<std::int64_t>::max()};
  std::uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    if (!IsDigit(text[i])) return false;
    const auto digit = static_cast<std::uint64_t>(text[i] - u'0');
    if (magnitude > (limit - digit) / 10) return false;
    magnitude = magnitude * 10 + digit;
  }
  value =
      negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
  return true;
}

bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char16_t c) {
      return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
    };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Text to double: the slot with the user's default locale; when it finds no
// number, the plain conversion with the process's decimal separator.
double TextToDouble(const std::u16string& text) {
  double value = 0.0;
  const HResult hr = GetVarR8FromStrSlot()(text.c_str(), kLocaleUserDefault, 0, &value);
  if (hr == kHResultOk) return value;
  if (hr == kDispETypeMismatch) {
    double plain = 0.0;
    if (TryStrToFloat(text, DecimalSeparator(), plain)) return plain;
  }
  CastError(VarType::UString, VarType::Double);
}

// Text to Int64: a decimal integer, else the system's text-to-Int32
// conversion, else the text-to-double slot rounded ties to even, else
// "True" (-1) or "False" (0).
std::int64_t TextToInt64(const std::u16string& text, VarType to) {
  std::int64_t decimal = 0;
  if (TryReadDecimalInt64(text, decimal)) return decimal;
  std::int32_t small = 0;
  if (platform::SystemVarI4FromStr(text.c_str(), kLocaleUserDefault, 0, &small) == kHResultOk) {
    return small;
  }
  double value = 0.0;
  const HResult hr = GetVarR8FromStrSlot()(text.c_str(), kLocaleUserDefault, 0, &value);
  if (hr == kHResultOk) return RoundToInt64(value, VarType::UString, to);
  if (hr == kDispETypeMismatch) {
    if (EqualsIgnoringAsciiCase(text, u"True")) return -1;
    if (EqualsIgnoringAsciiCase(text, u"False")) return 0;
  }
  CastError(VarType::UString, to);
}

std::u16string Widen(std::string_view ascii) { return {ascii.begin(), ascii.end()}; }

template <typename Int>
std::u16string IntegerText(Int v) {
  std::array<char, 24> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), v);
  return Widen(
      std::string_view(buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data())));
}

// The runtime's general floating-point format with `precision` significant
// digits: fixed notation while the decimal exponent lies in -3..precision,
// else d.dddE[-]x; no trailing zeros; the process's decimal separator.
std::u16string FloatText(double v, int precision) {
  if (std::isnan(v)) return u"NAN";
  if (std::isinf(v)) return v < 0 ? u"-INF" : u"INF";
  if (v == 0.0) return u"0";
  std::array<char, 64> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), v,
                                    std::chars_format::scientific, precision - 1);
  const std::string_view sci(buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data()));
  const std::size_t e = sci.find('e');
  const bool negative = sci.front() == '-';
  std::string digits;
  for (const char c : sci.substr(0, e)) {
    if (c >= '0' && c <= '9') digits.push_back(c);
  }
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  int exponent10 = 0;
  std::string_view exponentText = sci.substr(e + 1);
  if (!exponentText.empty() && exponentText.front() == '+') exponentText.remove_prefix(1);
  std::from_chars(exponentText.data(), exponentText.data() + exponentText.size(), exponent10);
  const int integerDigits = exponent10 + 1;  // digits before the decimal mark
  const auto decimal = DecimalSeparator();
  std::u16string text = negative ? u"-" : u"";
  const auto count = static_cast<int>(digits.size());
  if (integerDigits > precision || integerDigits < -3) {
    text.push_back(static_cast<char16_t>(digits[0]));
    if (count > 1) {
      text.push_back(decimal);
      text += Widen(std::string_view(digits).substr(1));
    }
    text.push_back(u'E');
    text += IntegerText(exponent10);
    return text;
  }
  if (integerDigits <= 0) {
    text += u"0";
    text.push_back(decimal);
    text.append(static_cast<std::size_t>(-integerDigits), u'0');
    text += Widen(digits);
    return text;
  }
  for (int i = 0; i < integerDigits; ++i) {
    text.push_back(i < count ? static_cast<char16_t>(digits[static_cast<std::size_t>(i)]) : u'0');
  }
  if (count > integerDigits) {
    text.push_back(decimal);
    text += Widen(std::string_view(digits).substr(static_cast<std::size_t>(integerDigits)));
  }
  return text;
}

std::u16string CurrencyText(CurrencyValue c) {
  const bool negative = c.scaled < 0;
  const std::uint64_t magnitude =
      negative ? 0 - static_cast<std::uint64_t>(c.scaled) : static_cast<std::uint64_t>(c.scaled);
  std::u16string text = negative ? u"-" : u"";
  text += IntegerText(magnitude / 10000);
  std::uint64_t fraction = magnitude % 10000;
  if (fraction != 0) {
    std::u16string digits;
    for (int i = 0; i < 4; ++i, fraction %= 1000, fraction *= 10) {
      digits.push_back(static_cast<char16_t>(u'0' + fraction / 1000));
    }
    while (digits.back() == u'0') digits.pop_back();
    text.push_back(DecimalSeparator());
    text += digits;
  }
  return text;
}

// "yyyy-mm-dd", followed by " hh:nn:ss" unless the time is midnight.
std::u16string DateText(DateValue d) {
  if (!std::isfinite(d.days) || std::fabs(d.days) > 2958466.0) {
    CastError(VarType::Date, VarType::UString);
  }
  const double whole = std::trunc(d.days);
  auto milliseconds = static_cast<std::int64_t>(std::round(std::fabs(d.days - whole) * 86400000.0));
  if (milliseconds >= 86400000) milliseconds = 86399999;
  // Civil date from days since 1970-01-01 (Howard Hinnant's algorithm);
  // day 0 of the Variant runtime is 1899-12-30, 25569 days earlier.
  const std::int64_t z = static_cast<std::int64_t>(whole) - 25569 + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  std::array<char, 48> buffer{};
  const long long seconds = milliseconds / 1000;
  int length = std::snprintf(buffer.data(), buffer.size(), "%04lld-%02lld-%02lld",
                             static_cast<long long>(year), static_cast<long long>(month),
                             static_cast<long long>(day));
  if (seconds != 0 && length > 0) {
    length +=
        std::snprintf(buffer.data() + length, buffer.size() - static_cast<std::size_t>(length),
                      " %02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  }
  return Widen(std::string_view(buffer.data(), static_cast<std::size_t>(length)));
}

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

}  // namespace

std::string_view VarTypeAsText(VarType type) noexcept {
  switch (static_cast<std::uint16_t>(type)) {
    case 0x00:
      return "Empty";
    case 0x01:
      return "Null";
    case 0x02:
      return "SmallInt";
    case 0x03:
      return "Integer";
    case 0x04:
      return "Single";
    case 0x05:
      return "Double";
    case 0x06:
      return "Currency";
    case 0x07:
      return "Date";
    case 0x08:
      return "OleStr";
    case 0x09:
      return "Dispatch";
    case 0x0A:
      return "Error";
    case 0x0B:
      return "Boolean";
    case 0x0C:
      return "Variant";
    case 0x0D:
      return "Unknown";
    case 0x0E:
      return "Decimal";
    case 0x10:
      return "ShortInt";
    case 0x11:
      return "Byte";
    case 0x12:
      return "Word";
    case 0x13:
      return "LongWord";
    case 0x14:
      return "Int64";
    case 0x15:
      return "UInt64";
    case 0x100:
      return "String";
    case 0x101:
      return "Any";
    case 0x102:
      return "UnicodeString";
    default:
      break;
  }
  // Other codes by number, "$" and four hexadecimal digits.
  thread_local std::array<char, 6> text{};
  constexpr std::string_view kHex = "0123456789ABCDEF";
  const auto code = static_cast<unsigned>(type);
  text[0] = '$';
  for (int i = 0; i < 4; ++i) {
    text[static_cast<std::size_t>(4 - i)] = kHex[(code >> (4 * i)) & 0xFU];
  }
  return {text.data(), 5};
}

EVariantTypeCastError::EVariantTypeCastError(VarType from, VarType to)
    : std::runtime_error(
          FormatError("Could not convert variant of type (%s) into type (%s)", from, to)) {}

EVariantOverflowError::EVariantOverflowError(VarType from, VarType to)
    : std::runtime_error(
          FormatError("Overflow while converting variant of type (%s) into type (%s)", from, to)) {}

Variant Variant::Null() noexcept { return Variant(NullTag{}); }

Variant::Variant(bool v) noexcept : value_(v) {}
Variant::Variant(std::int8_t v) noexcept : value_(v) {}
Variant::Variant(std::uint8_t v) noexcept : value_(v) {}
Variant::Variant(std::int16_t v) noexcept : value_(v) {}
Variant::Variant(std::uint16_t v) noexcept : value_(v) {}
Variant::Variant(std::int32_t v) noexcept : value_(v) {}
Variant::Variant(std::uint32_t v) noexcept : value_(v) {}
Variant::Variant(std::int64_t v) noexcept : value_(v) {}
Variant::Variant(std::uint64_t v) noexcept : value_(v) {}
Variant::Variant(float v) noexcept : value_(v) {}
Variant::Variant(double v) noexcept : value_(v) {}
Variant::Variant(CurrencyValue v) noexcept : value_(v) {}
Variant::Variant(DateValue v) noexcept : value_(v) {}
Variant::Variant(std::u16string v) noexcept : value_(std::move(v)) {}
Variant::Variant(const char16_t* v) : value_(std::u16string(v == nullptr ? u"" : v)) {}
Variant::Variant(std::shared_ptr<IInterface> v) noexcept : value_(std::move(v)) {}

VarType Variant::Type() const noexcept {
  // In the order of the storage's alternatives.
  static constexpr std::array<VarType, std::variant_size_v<Storage>> kTypes = {
      VarType::Empty,    VarType::Null,   VarType::Boolean, VarType::ShortInt, VarType::Byte,
      VarType::SmallInt, VarType::Word,   VarType::Integer, VarType::LongWord, VarType::Int64,
      VarType::UInt64,   VarType::Single, VarType::Double,  VarType::Currency, VarType::Date,
      VarType::UString,  VarType::Unknown};
  const std::size_t index = value_.index();
  return index < kTypes.size() ? kTypes[index] : VarType::Empty;
}

bool Variant::IsEmpty() const noexcept { return std::holds_alternative<std::monostate>(value_); }
bool Variant::IsNull() const noexcept { return std::holds_alternative<NullTag>(value_); }

double Variant::ToDouble() const {
  constexpr VarType kTo = VarType::Double;
  return std::visit(
      Overloaded{
          [](std::monostate) { return 0.0; },
          [](NullTag) -> double { CastError(VarType::Null, kTo); },
          [](bool b) { return b ? -1.0 : 0.0; },
          [](CurrencyValue c) { return static_cast<double>(c.scaled) / 10000.0; },
          [](DateValue d) { return d.days; },
          [](const std::u16string& s) { return TextToDouble(s); },
          [](const std::shared_ptr<IInterface>&) -> double { CastError(VarType::Unknown, kTo); },
          [](auto number) { return static_cast<double>(number); },
      },
      value_);
}

std::int64_t Variant::ToInt64() const {
  constexpr VarType kTo = VarType::Int64;
  return std::visit(
      Overloaded{
          [](std::monostate) -> std::int64_t { return 0; },
          [](NullTag) -> std::int64_t { CastError(VarType::Null, kTo); },
          [](bool b) -> std::int64_t { return b ? -1 : 0; },
          [](std::uint64_t u) -> std::int64_t {
            if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
              OverflowError(VarType::UInt64, kTo);
            }
            return static_cast<std::int64_t>(u);
          },
          [](float f) { return RoundToInt64(f, VarType::Single, kTo); },
          [](double d) { return RoundToInt64(d, VarType::Double, kTo); },
          [](CurrencyValue c) { return RoundCurrency(c); },
          [](DateValue d) { return RoundToInt64(d.days, VarType::Date, kTo); },
          [](const std::u16string& s) { return TextToInt64(s, kTo); },
          [](const std::shared_ptr<IInterface>&) -> std::int64_t {
            CastError(VarType::Unknown, kTo);
          },
          [](auto integer) -> std::int64_t { return integer; },
      },
      value_);
}

std::int32_t Variant::ToInt32() const {
  constexpr VarType kTo = VarType::Integer;
  const VarType from = Type();
  std::int64_t wide = 0;
  if (const auto* s = Get<std::u16string>()) {
    wide = TextToInt64(*s, kTo);
  } else if (const auto* u = Get<std::uint64_t>()) {
    if (*u > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
      OverflowError(from, kTo);
    }
    wide = static_cast<std::int64_t>(*u);
  } else if (IsNull() || from == VarType::Unknown) {
    CastError(from, kTo);
  } else {
    try {
      wide = ToInt64();
    } catch (const EVariantOverflowError&) {
      OverflowError(from, kTo);
    }
  }
  if (wide < std::numeric_limits<std::int32_t>::min() ||
      wide > std::numeric_limits<std::int32_t>::max()) {
    OverflowError(from, kTo);
  }
  return static_cast<std::int32_t>(wide);
}

std::u16string Variant::ToString() const {
  constexpr VarType kTo = VarType::UString;
  return std::visit(Overloaded{
                        [](std::monostate) { return std::u16string(); },
                        [](NullTag) -> std::u16string { CastError(VarType::Null, kTo); },
                        [](bool b) { return std::u16string(b ? u"True" : u"False"); },
                        [](float f) { return FloatText(f, 7); },
                        [](double d) { return FloatText(d, 15); },
                        [](CurrencyValue c) { return CurrencyText(c); },
                        [](DateValue d) { return DateText(d); },
                        [](const std::u16string& s) { return s; },
                        [](const std::shared_ptr<IInterface>&) -> std::u16string {
                          CastError(VarType::Unknown, kTo);
                        },
                        [](auto integer) { return IntegerText(integer); },
                    },
                    value_);
}

bool operator==(const Variant& a, const Variant& b) noexcept { return a.value_ == b.value_; }

VarR8FromStrFunc GetVarR8FromStrSlot() noexcept { return g_varR8FromStr.load(); }
VarR8FromStrFunc SetVarR8FromStrSlot(VarR8FromStrFunc f) noexcept {
  return g_varR8FromStr.exchange(f);
}
VarR4FromStrFunc GetVarR4FromStrSlot() noexcept { return g_varR4FromStr.load(); }
VarR4FromStrFunc SetVarR4FromStrSlot(VarR4FromStrFunc f) noexcept {
  return g_varR4FromStr.exchange(f);
}

}  // namespace ostrivane
