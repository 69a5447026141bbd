// POSIX: without the system's national-language functions, Windows' own
// behaviour from built-in tables, and the locale that the environment names.
#include <langinfo.h>

#include <algorithm>
#include <array>
#include <clocale>
#include <cstring>
#include <cwchar>

#include "support/cp1252.h"
#include "support/system_error.h"
#include "support/text_platform.h"
#include "support/ui_language.h"

namespace ostrivane::platform {
namespace {

// --- error texts -------------------------------------------------------------

struct ErrorMessage {
  std::uint32_t code;
  const char* text;
};

// Windows' texts for the error numbers this program raises.
constexpr std::array kErrorMessages{
    ErrorMessage{kErrorNotEnoughMemory,
                 "Not enough storage is available to process this command.\r\n"},
    ErrorMessage{kErrorOutOfMemory,
                 "Not enough storage is available to complete this operation.\r\n"},
    ErrorMessage{kErrorInvalidParameter, "The parameter is incorrect.\r\n"},
    ErrorMessage{kErrorInsufficientBuffer,
                 "The data area passed to a system call is too small.\r\n"},
};

// --- the numeric locale ------------------------------------------------------

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

std::string AnsiFromUtf16(std::u16string_view text) { return Cp1252FromUtf16(text); }

std::uint32_t AnsiCodePage() { return 1252; }

FoldAnswer SystemFoldDigits(std::u16string_view text, std::span<char16_t> out) {
  return TableFoldDigits(text, out);
}

std::string SystemErrorMessage(std::uint32_t code) {
  const auto* it = std::find_if(kErrorMessages.begin(), kErrorMessages.end(),
                                [code](const ErrorMessage& m) { return m.code == code; });
  return it == kErrorMessages.end() ? std::string() : std::string(it->text);
}

std::uint32_t UserDefaultLCID() { return LangIdFromPosixLocale(PosixLocaleSetting("LC_MESSAGES")); }

char16_t UserDecimalSeparator() {
  // An empty setting would make newlocale read the environment itself.
  const std::string setting = PosixLocaleSetting("LC_NUMERIC");
  return RadixOf(setting.empty() ? "C" : setting.c_str());
}

}  // namespace ostrivane::platform
