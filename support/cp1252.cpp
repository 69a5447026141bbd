// Code page 1252. Encoding goes by a table that the system's own conversion
// produced (tools/gen_cp1252_table.cpp): best-fit mappings included, '?'
// otherwise. Decoding is the code page itself.
#include "support/cp1252.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <stdexcept>

#include "support/text_paths.h"
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

using text_paths::Path;

// Four code units at once while they are ASCII: the low bytes of the four
// 16-bit lanes of one 64-bit word gather into four bytes.
void NarrowFour(const char16_t* in, char* out) noexcept {
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t kAboveAscii = 0xFF80FF80FF80FF80U;
    std::uint64_t units = 0;
    std::memcpy(&units, in, sizeof units);
    if ((units & kAboveAscii) == 0) {
      units = (units | (units >> 8U)) & 0x0000FFFF0000FFFFU;
      units = (units | (units >> 16U)) & 0x00000000FFFFFFFFU;
      const auto four = static_cast<std::uint32_t>(units);
      std::memcpy(out, &four, sizeof four);
      return;
    }
  }
  for (std::size_t k = 0; k < 4; ++k) out[k] = static_cast<char>(kLookup[in[k]]);
}

// Converts the `count` code units at in into as many bytes at out. Each path
// takes ASCII a group at a time and a group that holds anything else
// through the table.
void NarrowPortable(const char16_t* in, std::size_t count, char* out) noexcept {
  std::size_t i = 0;
  for (; count - i >= 4; i += 4) NarrowFour(in + i, out + i);
  for (; i < count; ++i) out[i] = static_cast<char>(kLookup[in[i]]);
}

#if defined(__SSE2__) || defined(_M_X64)
// Sixteen code units at a time: two vectors of eight, packed into sixteen
// bytes when none of them is above 0x7F. Sixteen that are not all ASCII go
// the portable way, four at a time, so that text with a character outside
// ASCII every few units loses nothing against it.
void NarrowSse2(const char16_t* in, std::size_t count, char* out) noexcept {
  std::size_t i = 0;
  const __m128i aboveAscii = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i zero = _mm_setzero_si128();
  for (; count - i >= 16; i += 16) {
    // NOLINTBEGIN(cppcoreguidelines-pro-type-reinterpret-cast): the intrinsics' own types
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 8));
    const __m128i above = _mm_and_si128(_mm_or_si128(low, high), aboveAscii);
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(above, zero)) != 0xFFFF) {
      for (std::size_t k = 0; k < 16; k += 4) NarrowFour(in + i + k, out + i + k);
      continue;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(low, high));
    // NOLINTEND(cppcoreguidelines-pro-type-reinterpret-cast)
  }
  for (; i < count; ++i) out[i] = static_cast<char>(kLookup[in[i]]);
}
#endif

// Converted a block at a time into storage reserved once for the whole
// text (one byte per code unit), so that the bytes are never filled with
// zeros first; a block stays in the first-level cache.
constexpr std::size_t kBlockBytes = 2048;

template <Path kPath>
std::string Narrow(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  std::array<char, kBlockBytes>
      block;  // NOLINT(cppcoreguidelines-pro-type-member-init): written before read
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t count = std::min(kBlockBytes, text.size() - i);
#if defined(__SSE2__) || defined(_M_X64)
    if constexpr (kPath == Path::Sse2) {
      NarrowSse2(text.data() + i, count, block.data());
    } else {
      NarrowPortable(text.data() + i, count, block.data());
    }
#else
    NarrowPortable(text.data() + i, count, block.data());
#endif
    bytes.append(block.data(), count);
    i += count;
  }
  return bytes;
}

#if defined(__SSE2__) || defined(_M_X64)
constexpr Path kDefaultPath = Path::Sse2;
#else
constexpr Path kDefaultPath = Path::Portable;
#endif

}  // namespace

std::string Cp1252FromUtf16(std::u16string_view text) { return Narrow<kDefaultPath>(text); }

namespace text_paths {

std::string Cp1252FromUtf16(std::u16string_view text, Path path) {
  return path == Path::Sse2 ? Narrow<Path::Sse2>(text) : Narrow<Path::Portable>(text);
}

std::string Cp1252FromUtf16Reference(std::u16string_view text) {
  std::string bytes;
  for (const char16_t unit : text) bytes.push_back(static_cast<char>(kLookup[unit]));
  return bytes;
}

}  // namespace text_paths

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
