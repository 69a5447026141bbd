// Conversion of UTF-16 text to the system's 8-bit ANSI code page, without
// flags: unrepresentable characters become their best-fit equivalent or the
// code page's default character "?".
#pragma once

#include <string>
#include <string_view>

namespace ostrivane {

// The system's conversion (WideCharToMultiByte(CP_ACP, 0, ...) on Windows;
// code page 1252 with Windows' best-fit behaviour elsewhere).
std::string ToAnsi(std::u16string_view text);

}  // namespace ostrivane
