#include "relay/cp1252.h"

#include <array>

#include "support/utf8.h"

namespace ostrivane {
namespace {

// 0x80..0x9F; the rest of the code page is Latin-1.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98..9F
};

}  // namespace

char16_t Cp1252CharToUtf16(std::uint8_t byte) noexcept {
  if (byte >= 0x80 && byte <= 0x9F) return kHighControls[byte - 0x80U];
  return byte;
}

std::string Cp1252ToUtf8(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size());
  for (const char b : bytes) text += Cp1252CharToUtf16(static_cast<std::uint8_t>(b));
  return Utf16ToUtf8(text);
}

}  // namespace ostrivane
