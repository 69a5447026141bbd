// What the optional-function table needs from the platform besides loading:
// the locale comparison of the two comparison fallbacks and the screen's DPI
// (platform code: dimports_win32.cpp, dimports_posix.cpp).
#pragma once

#include "support/dimports.h"

namespace ostrivane::DImports::platform {

inline constexpr int kCstrLessThan = 1;
inline constexpr int kCstrEqual = 2;
inline constexpr int kCstrGreaterThan = 3;

// Compares two NUL-terminated texts in the user's default locale, ignoring
// letter case when `ignoreCase` is set: kCstrLessThan, kCstrEqual or
// kCstrGreaterThan. Throws when the comparison reports an error.
int CompareInUserLocale(LPCWSTR text1, LPCWSTR text2, bool ignoreCase);

// The screen's logical pixels per inch, horizontally and vertically.
void ScreenLogicalDpi(UINT& x, UINT& y);

}  // namespace ostrivane::DImports::platform
