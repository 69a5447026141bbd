// Code page 1252. Encoding goes by a table that the system's own conversion
// produced (tools/gen_cp1252_table.cpp): best-fit mappings included, '?'
// otherwise. Decoding is the code page itself.
#include "support/cp1252.h"

#include <array>
#include <bit>
#include <cstring>
#include <stdexcept>

#include "support/utf8.h"

namespace ostrivane {
namespace {

// The code units first..last convert to firstByte, firstByte + 1, ...
struct Cp1252Run {
  char16_t first;
  char16_t last;
  std::uint8_t firstByte;
};

#include "support/cp1252_table.inc"

using Cp1252Lookup = std::array<std::uint8_t, 0x10000>;

// The byte of every code unit, built while compiling. A table whose runs are
// out of order, overlap or count past 0xFF does not compile.
constexpr Cp1252Lookup BuildLookup() {
  Cp1252Lookup lookup{};
  lookup.fill(static_cast<std::uint8_t>('?'));
  unsigned next = 0;  // first unit that a run may start at
  for (const Cp1252Run& run : kCp1252Runs) {
    if (run.first < next || run.last < run.first || run.firstByte + (run.last - run.first) > 0xFF) {
      throw std::logic_error("malformed code page 1252 table");
    }
    for (unsigned unit = run.first; unit <= run.last; ++unit) {
      lookup[unit] = static_cast<std::uint8_t>(run.firstByte + (unit - run.first));
    }
    next = run.last + 1U;
  }
  return lookup;
}

constexpr Cp1252Lookup kLookup = BuildLookup();

constexpr bool KeepsAscii(const Cp1252Lookup& lookup) {
  for (unsigned unit = 0; unit < 0x80; ++unit) {
    if (lookup[unit] != unit) return false;
  }
  return true;
}
// What lets Cp1252FromUtf16 take ASCII without the table.
static_assert(KeepsAscii(kLookup), "code page 1252 keeps ASCII as it is");

// The characters of 0x80..0x9F; the rest of the code page is Latin-1.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98..9F
};

}  // namespace

std::string Cp1252FromUtf16(std::u16string_view text) {
  std::string bytes(text.size(), '\0');
  std::size_t i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    // Four code units at a time while they are ASCII: the low bytes of the
    // four 16-bit lanes of one 64-bit word gather into four bytes.
    constexpr std::uint64_t kAboveAscii = 0xFF80FF80FF80FF80U;
    for (; text.size() - i >= 4; i += 4) {
      std::uint64_t units = 0;
      std::memcpy(&units, text.data() + i, sizeof units);
      if ((units & kAboveAscii) != 0) {
        for (std::size_t k = i; k < i + 4; ++k) bytes[k] = static_cast<char>(kLookup[text[k]]);
        continue;
      }
      units = (units | (units >> 8U)) & 0x0000FFFF0000FFFFU;
      units = (units | (units >> 16U)) & 0x00000000FFFFFFFFU;
      const auto four = static_cast<std::uint32_t>(units);
      std::memcpy(bytes.data() + i, &four, sizeof four);
    }
  }
  for (; i < text.size(); ++i) bytes[i] = static_cast<char>(kLookup[text[i]]);
  return bytes;
}

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
