// POSIX locale names and the Windows language identifiers of the same
// language and country.
#include "support/ui_language.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <initializer_list>
#include <iterator>
#include <optional>

namespace ostrivane {
namespace {

// Longest locale name taken apart; longer text is malformed.
constexpr std::size_t kMaxLocaleName = 128;

struct LocaleParts {
  std::string language;  // lower case, 2 or 3 letters
  std::string country;   // upper case, 2 letters, or empty
  std::string_view codeset;
  std::string_view modifier;
};

constexpr bool IsAsciiLetter(char c) noexcept {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
constexpr bool IsAsciiDigit(char c) noexcept { return c >= '0' && c <= '9'; }
constexpr char ToLower(char c) noexcept {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char ToUpper(char c) noexcept {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Characters of a codeset or modifier name ("UTF-8", "euro", "latin").
constexpr bool IsNameChar(char c) noexcept {
  return IsAsciiLetter(c) || IsAsciiDigit(c) || c == '-' || c == '_';
}

// Takes the longest run of `accept` characters at the start of `text`.
template <typename Predicate>
std::string_view TakeWhile(std::string_view& text, Predicate accept) {
  std::size_t length = 0;
  while (length < text.size() && accept(text[length])) ++length;
  const std::string_view run = text.substr(0, length);
  text.remove_prefix(length);
  return run;
}

// The part after `marker` when `text` starts with it: a non-empty run of
// name characters. Nothing when there is no marker; false when the part is
// malformed.
bool TakeSuffix(std::string_view& text, char marker, std::string_view& part) {
  if (text.empty() || text.front() != marker) return true;
  text.remove_prefix(1);
  part = TakeWhile(text, IsNameChar);
  return !part.empty();
}

// "ll[_CC|-CC][.codeset][@modifier]", or nothing when malformed.
std::optional<LocaleParts> ParseLocale(std::string_view text) {
  if (text.size() > kMaxLocaleName) return std::nullopt;
  LocaleParts parts;
  const std::string_view language = TakeWhile(text, IsAsciiLetter);
  if (language.size() < 2 || language.size() > 3) return std::nullopt;
  std::transform(language.begin(), language.end(), std::back_inserter(parts.language), ToLower);
  if (!text.empty() && (text.front() == '_' || text.front() == '-')) {
    text.remove_prefix(1);
    const std::string_view country = TakeWhile(text, IsAsciiLetter);
    if (country.size() != 2) return std::nullopt;
    std::transform(country.begin(), country.end(), std::back_inserter(parts.country), ToUpper);
  }
  if (!TakeSuffix(text, '.', parts.codeset)) return std::nullopt;
  if (!TakeSuffix(text, '@', parts.modifier)) return std::nullopt;
  if (!text.empty()) return std::nullopt;
  return parts;
}

// "C" and "POSIX", with or without codeset and modifier, and the empty name.
bool IsCLocale(std::string_view text) {
  if (text.empty()) return true;
  if (text.size() > kMaxLocaleName) return false;
  const std::string_view base = TakeWhile(text, IsAsciiLetter);
  if (base != "C" && base != "POSIX") return false;
  std::string_view codeset;
  std::string_view modifier;
  return TakeSuffix(text, '.', codeset) && TakeSuffix(text, '@', modifier) && text.empty();
}

struct NeutralId {
  std::string_view language;
  std::uint16_t id;
};

// Language-neutral identifiers: the primary language with the neutral
// sublanguage, or Windows' own neutral identifier where languages share a
// primary language (Bosnian, Serbian, Croatian; Norwegian).
constexpr std::array kNeutralIds{
    NeutralId{"af", 0x0036},  NeutralId{"am", 0x005E}, NeutralId{"ar", 0x0001},
    NeutralId{"as", 0x004D},  NeutralId{"az", 0x002C}, NeutralId{"be", 0x0023},
    NeutralId{"bg", 0x0002},  NeutralId{"bn", 0x0045}, NeutralId{"bs", 0x781A},
    NeutralId{"ca", 0x0003},  NeutralId{"cs", 0x0005}, NeutralId{"cy", 0x0052},
    NeutralId{"da", 0x0006},  NeutralId{"de", 0x0007}, NeutralId{"el", 0x0008},
    NeutralId{"en", 0x0009},  NeutralId{"es", 0x000A}, NeutralId{"et", 0x0025},
    NeutralId{"eu", 0x002D},  NeutralId{"fa", 0x0029}, NeutralId{"fi", 0x000B},
    NeutralId{"fil", 0x0064}, NeutralId{"fo", 0x0038}, NeutralId{"fr", 0x000C},
    NeutralId{"fy", 0x0062},  NeutralId{"ga", 0x003C}, NeutralId{"gd", 0x0091},
    NeutralId{"gl", 0x0056},  NeutralId{"gu", 0x0047}, NeutralId{"he", 0x000D},
    NeutralId{"hi", 0x0039},  NeutralId{"hr", 0x001A}, NeutralId{"hu", 0x000E},
    NeutralId{"hy", 0x002B},  NeutralId{"id", 0x0021}, NeutralId{"is", 0x000F},
    NeutralId{"it", 0x0010},  NeutralId{"ja", 0x0011}, NeutralId{"ka", 0x0037},
    NeutralId{"kk", 0x003F},  NeutralId{"km", 0x0053}, NeutralId{"kn", 0x004B},
    NeutralId{"ko", 0x0012},  NeutralId{"ky", 0x0040}, NeutralId{"lb", 0x006E},
    NeutralId{"lo", 0x0054},  NeutralId{"lt", 0x0027}, NeutralId{"lv", 0x0026},
    NeutralId{"mk", 0x002F},  NeutralId{"ml", 0x004C}, NeutralId{"mn", 0x0050},
    NeutralId{"mr", 0x004E},  NeutralId{"ms", 0x003E}, NeutralId{"mt", 0x003A},
    NeutralId{"nb", 0x7C14},  NeutralId{"ne", 0x0061}, NeutralId{"nl", 0x0013},
    NeutralId{"nn", 0x7814},  NeutralId{"no", 0x0014}, NeutralId{"pa", 0x0046},
    NeutralId{"pl", 0x0015},  NeutralId{"ps", 0x0063}, NeutralId{"pt", 0x0016},
    NeutralId{"rm", 0x0017},  NeutralId{"ro", 0x0018}, NeutralId{"ru", 0x0019},
    NeutralId{"si", 0x005B},  NeutralId{"sk", 0x001B}, NeutralId{"sl", 0x0024},
    NeutralId{"sq", 0x001C},  NeutralId{"sr", 0x7C1A}, NeutralId{"sv", 0x001D},
    NeutralId{"sw", 0x0041},  NeutralId{"ta", 0x0049}, NeutralId{"te", 0x004A},
    NeutralId{"tg", 0x0028},  NeutralId{"th", 0x001E}, NeutralId{"tk", 0x0042},
    NeutralId{"tr", 0x001F},  NeutralId{"tt", 0x0044}, NeutralId{"uk", 0x0022},
    NeutralId{"ur", 0x0020},  NeutralId{"uz", 0x0043}, NeutralId{"vi", 0x002A},
    NeutralId{"xh", 0x0034},  NeutralId{"zh", 0x0004}, NeutralId{"zu", 0x0035},
};

struct CountryId {
  std::string_view language;
  std::string_view country;
  std::string_view modifier;  // empty: any modifier
  std::uint16_t id;
};

// Language and country (primary language plus sublanguage). A row with a
// modifier wins over the row without one.
constexpr std::array kCountryIds{
    CountryId{"af", "ZA", "", 0x0436},         CountryId{"am", "ET", "", 0x045E},
    CountryId{"ar", "AE", "", 0x3801},         CountryId{"ar", "BH", "", 0x3C01},
    CountryId{"ar", "DZ", "", 0x1401},         CountryId{"ar", "EG", "", 0x0C01},
    CountryId{"ar", "IQ", "", 0x0801},         CountryId{"ar", "JO", "", 0x2C01},
    CountryId{"ar", "KW", "", 0x3401},         CountryId{"ar", "LB", "", 0x3001},
    CountryId{"ar", "LY", "", 0x1001},         CountryId{"ar", "MA", "", 0x1801},
    CountryId{"ar", "OM", "", 0x2001},         CountryId{"ar", "QA", "", 0x4001},
    CountryId{"ar", "SA", "", 0x0401},         CountryId{"ar", "SY", "", 0x2801},
    CountryId{"ar", "TN", "", 0x1C01},         CountryId{"ar", "YE", "", 0x2401},
    CountryId{"as", "IN", "", 0x044D},         CountryId{"az", "AZ", "", 0x042C},
    CountryId{"be", "BY", "", 0x0423},         CountryId{"bg", "BG", "", 0x0402},
    CountryId{"bn", "BD", "", 0x0845},         CountryId{"bn", "IN", "", 0x0445},
    CountryId{"bs", "BA", "", 0x141A},         CountryId{"ca", "ES", "", 0x0403},
    CountryId{"ca", "ES", "valencia", 0x0803}, CountryId{"cs", "CZ", "", 0x0405},
    CountryId{"cy", "GB", "", 0x0452},         CountryId{"da", "DK", "", 0x0406},
    CountryId{"de", "AT", "", 0x0C07},         CountryId{"de", "CH", "", 0x0807},
    CountryId{"de", "DE", "", 0x0407},         CountryId{"de", "LI", "", 0x1407},
    CountryId{"de", "LU", "", 0x1007},         CountryId{"el", "GR", "", 0x0408},
    CountryId{"en", "AU", "", 0x0C09},         CountryId{"en", "BZ", "", 0x2809},
    CountryId{"en", "CA", "", 0x1009},         CountryId{"en", "GB", "", 0x0809},
    CountryId{"en", "IE", "", 0x1809},         CountryId{"en", "IN", "", 0x4009},
    CountryId{"en", "JM", "", 0x2009},         CountryId{"en", "MY", "", 0x4409},
    CountryId{"en", "NZ", "", 0x1409},         CountryId{"en", "PH", "", 0x3409},
    CountryId{"en", "SG", "", 0x4809},         CountryId{"en", "TT", "", 0x2C09},
    CountryId{"en", "US", "", 0x0409},         CountryId{"en", "ZA", "", 0x1C09},
    CountryId{"en", "ZW", "", 0x3009},         CountryId{"es", "AR", "", 0x2C0A},
    CountryId{"es", "BO", "", 0x400A},         CountryId{"es", "CL", "", 0x340A},
    CountryId{"es", "CO", "", 0x240A},         CountryId{"es", "CR", "", 0x140A},
    CountryId{"es", "DO", "", 0x1C0A},         CountryId{"es", "EC", "", 0x300A},
    CountryId{"es", "ES", "", 0x0C0A},         CountryId{"es", "GT", "", 0x100A},
    CountryId{"es", "HN", "", 0x480A},         CountryId{"es", "MX", "", 0x080A},
    CountryId{"es", "NI", "", 0x4C0A},         CountryId{"es", "PA", "", 0x180A},
    CountryId{"es", "PE", "", 0x280A},         CountryId{"es", "PR", "", 0x500A},
    CountryId{"es", "PY", "", 0x3C0A},         CountryId{"es", "SV", "", 0x440A},
    CountryId{"es", "US", "", 0x540A},         CountryId{"es", "UY", "", 0x380A},
    CountryId{"es", "VE", "", 0x200A},         CountryId{"et", "EE", "", 0x0425},
    CountryId{"eu", "ES", "", 0x042D},         CountryId{"fa", "IR", "", 0x0429},
    CountryId{"fi", "FI", "", 0x040B},         CountryId{"fil", "PH", "", 0x0464},
    CountryId{"fo", "FO", "", 0x0438},         CountryId{"fr", "BE", "", 0x080C},
    CountryId{"fr", "CA", "", 0x0C0C},         CountryId{"fr", "CH", "", 0x100C},
    CountryId{"fr", "FR", "", 0x040C},         CountryId{"fr", "LU", "", 0x140C},
    CountryId{"fr", "MC", "", 0x180C},         CountryId{"fy", "NL", "", 0x0462},
    CountryId{"ga", "IE", "", 0x083C},         CountryId{"gd", "GB", "", 0x0491},
    CountryId{"gl", "ES", "", 0x0456},         CountryId{"gu", "IN", "", 0x0447},
    CountryId{"he", "IL", "", 0x040D},         CountryId{"hi", "IN", "", 0x0439},
    CountryId{"hr", "BA", "", 0x101A},         CountryId{"hr", "HR", "", 0x041A},
    CountryId{"hu", "HU", "", 0x040E},         CountryId{"hy", "AM", "", 0x042B},
    CountryId{"id", "ID", "", 0x0421},         CountryId{"is", "IS", "", 0x040F},
    CountryId{"it", "CH", "", 0x0810},         CountryId{"it", "IT", "", 0x0410},
    CountryId{"ja", "JP", "", 0x0411},         CountryId{"ka", "GE", "", 0x0437},
    CountryId{"kk", "KZ", "", 0x043F},         CountryId{"km", "KH", "", 0x0453},
    CountryId{"kn", "IN", "", 0x044B},         CountryId{"ko", "KR", "", 0x0412},
    CountryId{"ky", "KG", "", 0x0440},         CountryId{"lb", "LU", "", 0x046E},
    CountryId{"lo", "LA", "", 0x0454},         CountryId{"lt", "LT", "", 0x0427},
    CountryId{"lv", "LV", "", 0x0426},         CountryId{"mk", "MK", "", 0x042F},
    CountryId{"ml", "IN", "", 0x044C},         CountryId{"mn", "MN", "", 0x0450},
    CountryId{"mr", "IN", "", 0x044E},         CountryId{"ms", "BN", "", 0x083E},
    CountryId{"ms", "MY", "", 0x043E},         CountryId{"mt", "MT", "", 0x043A},
    CountryId{"nb", "NO", "", 0x0414},         CountryId{"ne", "NP", "", 0x0461},
    CountryId{"nl", "BE", "", 0x0813},         CountryId{"nl", "NL", "", 0x0413},
    CountryId{"nn", "NO", "", 0x0814},         CountryId{"no", "NO", "", 0x0414},
    CountryId{"pa", "IN", "", 0x0446},         CountryId{"pl", "PL", "", 0x0415},
    CountryId{"ps", "AF", "", 0x0463},         CountryId{"pt", "BR", "", 0x0416},
    CountryId{"pt", "PT", "", 0x0816},         CountryId{"rm", "CH", "", 0x0417},
    CountryId{"ro", "MD", "", 0x0818},         CountryId{"ro", "RO", "", 0x0418},
    CountryId{"ru", "MD", "", 0x0819},         CountryId{"ru", "RU", "", 0x0419},
    CountryId{"si", "LK", "", 0x045B},         CountryId{"sk", "SK", "", 0x041B},
    CountryId{"sl", "SI", "", 0x0424},         CountryId{"sq", "AL", "", 0x041C},
    CountryId{"sr", "BA", "", 0x1C1A},         CountryId{"sr", "BA", "latin", 0x181A},
    CountryId{"sr", "ME", "", 0x301A},         CountryId{"sr", "ME", "latin", 0x2C1A},
    CountryId{"sr", "RS", "", 0x281A},         CountryId{"sr", "RS", "latin", 0x241A},
    CountryId{"sv", "FI", "", 0x081D},         CountryId{"sv", "SE", "", 0x041D},
    CountryId{"sw", "KE", "", 0x0441},         CountryId{"ta", "IN", "", 0x0449},
    CountryId{"te", "IN", "", 0x044A},         CountryId{"tg", "TJ", "", 0x0428},
    CountryId{"th", "TH", "", 0x041E},         CountryId{"tk", "TM", "", 0x0442},
    CountryId{"tr", "TR", "", 0x041F},         CountryId{"tt", "RU", "", 0x0444},
    CountryId{"uk", "UA", "", 0x0422},         CountryId{"ur", "PK", "", 0x0420},
    CountryId{"uz", "UZ", "", 0x0443},         CountryId{"uz", "UZ", "cyrillic", 0x0843},
    CountryId{"vi", "VN", "", 0x042A},         CountryId{"xh", "ZA", "", 0x0434},
    CountryId{"zh", "CN", "", 0x0804},         CountryId{"zh", "HK", "", 0x0C04},
    CountryId{"zh", "MO", "", 0x1404},         CountryId{"zh", "SG", "", 0x1004},
    CountryId{"zh", "TW", "", 0x0404},         CountryId{"zu", "ZA", "", 0x0435},
};

}  // namespace

std::uint16_t LangIdFromPosixLocale(std::string_view locale) {
  if (IsCLocale(locale)) return kLangIdInvariant;
  const std::optional<LocaleParts> parts = ParseLocale(locale);
  if (!parts) return kLangIdCustomUnspecified;
  if (parts->country.empty()) {
    const auto* neutral =
        std::find_if(kNeutralIds.begin(), kNeutralIds.end(),
                     [&](const NeutralId& row) { return row.language == parts->language; });
    return neutral == kNeutralIds.end() ? kLangIdCustomUnspecified : neutral->id;
  }
  std::optional<std::uint16_t> found;
  for (const CountryId& row : kCountryIds) {
    if (row.language != parts->language || row.country != parts->country) continue;
    if (row.modifier.empty()) {
      if (!found) found = row.id;
    } else if (row.modifier == parts->modifier) {
      return row.id;
    }
  }
  return found.value_or(kLangIdCustomUnspecified);
}

std::string PosixLocaleSetting(const char* categoryVariable) {
  for (const char* variable : {"LC_ALL", categoryVariable, "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return value;
  }
  return {};
}

std::string CollatorLocaleName(std::string_view setting) {
  if (IsCLocale(setting)) return {};
  const std::optional<LocaleParts> parts = ParseLocale(setting);
  if (!parts) return {};
  return parts->country.empty() ? parts->language : parts->language + "_" + parts->country;
}

}  // namespace ostrivane
