// The user's language as Windows numbers it, and the POSIX locale names that
// stand in for it outside Windows. (The user's own locale identifier is
// platform::UserDefaultLCID, support/text_platform.h.)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ostrivane {

// Windows language identifiers this module answers with besides the
// language-and-country ones.
inline constexpr std::uint16_t kLangIdInvariant = 0x007F;
inline constexpr std::uint16_t kLangIdCustomUnspecified = 0x1000;  // LOCALE_CUSTOM_UNSPECIFIED

// The Windows language identifier of the language and country that a POSIX
// locale name "ll_CC.codeset@modifier" (or "ll-CC...") names: "de_DE" gives
// 0x0407, "de_AT.UTF-8" 0x0C07. Without a country the language-neutral
// identifier ("de": 0x0007); "C", "POSIX" and the empty name give the
// invariant identifier; an unknown language, a country Windows has no
// identifier for, or malformed text give kLangIdCustomUnspecified.
std::uint16_t LangIdFromPosixLocale(std::string_view locale);

// The locale setting that the environment names for a category, as POSIX
// resolves it: the first of LC_ALL, `categoryVariable` (e.g. "LC_MESSAGES")
// and LANG that is set and not empty; empty when none is.
std::string PosixLocaleSetting(const char* categoryVariable);

// The locale name a collator takes for a POSIX locale setting: "ll_CC"
// without codeset and modifier; empty (the root collation) for "C", "POSIX",
// the empty setting and malformed text.
std::string CollatorLocaleName(std::string_view setting);

}  // namespace ostrivane
