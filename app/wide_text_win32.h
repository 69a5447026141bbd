// UTF-16 text between the portable code (char16_t) and the Win32 API
// (wchar_t, also UTF-16 on Windows).
#pragma once

#include <string>
#include <string_view>

namespace ostrivane {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t holds UTF-16 on Windows");

inline std::wstring ToWide(std::u16string_view text) { return {text.begin(), text.end()}; }

inline std::u16string FromWide(std::wstring_view text) { return {text.begin(), text.end()}; }

}  // namespace ostrivane
