// Where the text services meet the system: the conversion to the ANSI code
// page, digit folding, the system's error texts and the user's locale. The
// portable routines (ToAnsi, FoldDigits, ESystemError, IsGermanUILanguage,
// DecimalSeparator) are built on these.
//
// text_win32.cpp asks Windows' national-language functions; text_posix.cpp
// stands in with Windows' own tables (taken from the system by tools/) and
// the POSIX locale that the environment names.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "support/fold_digits.h"

namespace ostrivane::platform {

// The system's conversion of UTF-16 text to its ANSI code page without flags
// (WideCharToMultiByte(CP_ACP, 0, ...)); code page 1252 with Windows'
// best-fit behaviour (Cp1252FromUtf16) on POSIX.
std::string AnsiFromUtf16(std::u16string_view text);

// The number of the code page that AnsiFromUtf16 converts to: GetACP() on
// Windows, 1252 on POSIX.
std::uint32_t AnsiCodePage();

// The system's digit folding as a DigitFold (support/fold_digits.h):
// FoldStringW(MAP_FOLDDIGITS) on Windows, TableFoldDigits on POSIX.
FoldAnswer SystemFoldDigits(std::u16string_view text, std::span<char16_t> out);

// The system's text for an error number as the system words it (UTF-8),
// empty when it has none: FormatMessageW on Windows, Windows' texts of the
// numbers in support/system_error.h on POSIX.
std::string SystemErrorMessage(std::uint32_t code);

// The user's default locale identifier: GetUserDefaultLCID() on Windows; on
// POSIX the identifier (LangIdFromPosixLocale) of the locale that LC_ALL,
// LC_MESSAGES or LANG names.
std::uint32_t UserDefaultLCID();

// The decimal separator of the user's locale as one UTF-16 code unit, "."
// when the locale gives none: LOCALE_SDECIMAL of the user's default locale on
// Windows; on POSIX the radix character of the locale that LC_ALL,
// LC_NUMERIC or LANG names (the C locale when none does), "." also when that
// locale is unknown or its mark is not one character of the Basic
// Multilingual Plane.
char16_t UserDecimalSeparator();

}  // namespace ostrivane::platform
