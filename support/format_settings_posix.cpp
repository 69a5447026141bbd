// POSIX: the decimal separator (radix character) of the locale that the
// environment names for LC_NUMERIC.
#include <langinfo.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <initializer_list>

#include "support/format_settings.h"

namespace ostrivane {

namespace {

// The locale name for LC_NUMERIC as POSIX resolves it: LC_ALL, then
// LC_NUMERIC, then LANG, the first one set and not empty; "C" otherwise.
const char* NumericLocaleName() noexcept {
  for (const char* variable : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return value;
  }
  return "C";
}

class OwnedLocale {
 public:
  explicit OwnedLocale(locale_t locale) noexcept : locale_(locale) {}
  OwnedLocale(const OwnedLocale&) = delete;
  OwnedLocale& operator=(const OwnedLocale&) = delete;
  ~OwnedLocale() {
    if (locale_ != locale_t{}) freelocale(locale_);
  }
  [[nodiscard]] locale_t get() const noexcept { return locale_; }

 private:
  locale_t locale_;
};

// Makes `locale` the calling thread's locale for the lifetime of the object.
class ThreadLocaleScope {
 public:
  explicit ThreadLocaleScope(locale_t locale) noexcept : previous_(uselocale(locale)) {}
  ThreadLocaleScope(const ThreadLocaleScope&) = delete;
  ThreadLocaleScope& operator=(const ThreadLocaleScope&) = delete;
  ~ThreadLocaleScope() {
    if (previous_ != locale_t{}) uselocale(previous_);
  }

 private:
  locale_t previous_;
};

// The radix character of the locale named `name` as one UTF-16 code unit,
// or '.' when the locale is unknown, gives none, or gives one that is not a
// single character of the Basic Multilingual Plane.
char16_t RadixOf(const char* name) noexcept {
  // The character set of the numeric category's own locale decodes its
  // radix string.
  const OwnedLocale locale(newlocale(LC_NUMERIC_MASK | LC_CTYPE_MASK, name, locale_t{}));
  if (locale.get() == locale_t{}) return u'.';
  const char* radix = nl_langinfo_l(RADIXCHAR, locale.get());
  if (radix == nullptr || *radix == '\0') return u'.';
  const std::size_t length = std::strlen(radix);
  const ThreadLocaleScope scope(locale.get());
  std::mbstate_t state{};
  wchar_t wide = 0;
  const std::size_t used = std::mbrtowc(&wide, radix, length, &state);
  if (used != length) return u'.';  // undecodable, cut short, or more than one character
  if (wide <= 0 || wide > 0xFFFF || (wide >= 0xD800 && wide <= 0xDFFF)) return u'.';
  return static_cast<char16_t>(wide);
}

}  // namespace

void LoadFormatSettingsFromSystem() { SetDecimalSeparator(RadixOf(NumericLocaleName())); }

}  // namespace ostrivane
