// The ways through the text path, side by side, for the tests, the fuzz
// targets and the benchmarks. Utf8ToUtf16 and Cp1252FromUtf16 take the
// vector path where the compiler targets SSE2 (every x86-64 CPU, Windows x64
// too) and the portable loop elsewhere; both paths are built everywhere they
// can run, so that each build checks both. The reference loops are the
// plain character-at-a-time conversions that the paths must agree with,
// byte for byte.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ostrivane::text_paths {

#if defined(__SSE2__) || defined(_M_X64)
inline constexpr bool kHaveSse2 = true;
#else
inline constexpr bool kHaveSse2 = false;
#endif

enum class Path {
  Portable,  // eight bytes (four code units) at a time in plain C++
  Sse2,      // sixteen at a time; where kHaveSse2 is false, the portable loop
};

// Utf8ToUtf16 (support/utf8.h) along `path`.
std::optional<std::u16string> Utf8ToUtf16(std::span<const std::uint8_t> bytes, Path path);
// Cp1252FromUtf16 (support/cp1252.h) along `path`.
std::string Cp1252FromUtf16(std::u16string_view text, Path path);

// One code point, or one code unit, at a time.
std::optional<std::u16string> Utf8ToUtf16Reference(std::span<const std::uint8_t> bytes);
std::string Cp1252FromUtf16Reference(std::u16string_view text);

}  // namespace ostrivane::text_paths
