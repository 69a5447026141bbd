// Decoding of code page 1252 text, the 8-bit encoding that stands in for the
// ANSI code page where the system has none.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ostrivane {

// The character of one byte as Windows decodes code page 1252. The five bytes
// that the code page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become
// the control characters of the same value.
char16_t Cp1252CharToUtf16(std::uint8_t byte) noexcept;

// `bytes` decoded from code page 1252 into UTF-8.
std::string Cp1252ToUtf8(std::string_view bytes);

}  // namespace ostrivane
