// Code page 1252 in both directions, exactly as Windows converts: the 8-bit
// encoding that stands in for the ANSI code page where the system has none.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ostrivane {

// UTF-16 text encoded in code page 1252 as Windows' conversion without flags
// does it, from a built-in table: best-fit equivalents where the code page
// has them, the default character "?" otherwise; one byte per code unit.
// Runs of ASCII go sixteen code units at a time where the CPU has SSE2
// (support/text_paths.h).
std::string Cp1252FromUtf16(std::u16string_view text);

// The character of one byte as Windows decodes code page 1252. The five bytes
// that the code page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become
// the control characters of the same value.
char16_t Cp1252CharToUtf16(std::uint8_t byte) noexcept;

// `bytes` decoded from code page 1252 into UTF-8.
std::string Cp1252ToUtf8(std::string_view bytes);

}  // namespace ostrivane
