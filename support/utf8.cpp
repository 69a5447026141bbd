#include "support/utf8.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "support/text_paths.h"

namespace ostrivane {
namespace {

using text_paths::Path;

// Walks one well-formed sequence starting at bytes[i]. Returns its code point
// and advances i, or returns -1 on any flaw (Unicode Table 3-7).
std::int32_t NextCodePoint(std::span<const std::uint8_t> bytes, std::size_t& i) noexcept {
  const std::size_t n = bytes.size();
  const std::uint32_t b0 = bytes[i];
  if (b0 < 0x80) {
    ++i;
    return static_cast<std::int32_t>(b0);
  }
  std::size_t len = 0;
  std::uint32_t cp = 0;
  std::uint32_t lo = 0x80;  // allowed range of the second byte
  std::uint32_t hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
    cp = b0 & 0x1FU;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    cp = b0 & 0x0FU;
    if (b0 == 0xE0) lo = 0xA0;  // overlong
    if (b0 == 0xED) hi = 0x9F;  // surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    cp = b0 & 0x07U;
    if (b0 == 0xF0) lo = 0x90;  // overlong
    if (b0 == 0xF4) hi = 0x8F;  // above U+10FFFF
  } else {
    return -1;  // continuation byte, C0, C1, F5..FF
  }
  if (n - i < len) return -1;  // cut short
  for (std::size_t k = 1; k < len; ++k) {
    const std::uint32_t b = bytes[i + k];
    if (k == 1 ? (b < lo || b > hi) : (b < 0x80 || b > 0xBF)) return -1;
    cp = (cp << 6U) | (b & 0x3FU);
  }
  i += len;
  return static_cast<std::int32_t>(cp);
}

// Writes the code units of `cp` at out: one, or a surrogate pair above
// U+FFFF. Returns the place after them.
char16_t* PutCodePoint(std::uint32_t cp, char16_t* out) noexcept {
  if (cp > 0xFFFF) {
    const std::uint32_t v = cp - 0x10000;
    *out++ = static_cast<char16_t>(0xD800 + (v >> 10U));
    *out++ = static_cast<char16_t>(0xDC00 + (v & 0x3FFU));
  } else {
    *out++ = static_cast<char16_t>(cp);
  }
  return out;
}

// Widens the run of ASCII bytes at the front of in[0, count) into out and
// returns its length. Each path reads the bytes a group at a time and stops
// at the group that holds a byte above 0x7F.
std::size_t WidenAsciiPortable(const std::uint8_t* in, std::size_t count, char16_t* out) noexcept {
  std::size_t i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t kHighBits = 0x8080808080808080U;
    for (; count - i >= 8; i += 8) {
      std::uint64_t eight = 0;
      std::memcpy(&eight, in + i, sizeof eight);
      if ((eight & kHighBits) != 0) break;
      // Four bytes spread out into the four 16-bit lanes of a 64-bit word.
      for (std::size_t half = 0; half < 2; ++half) {
        std::uint64_t units = (eight >> (32U * half)) & 0xFFFFFFFFU;
        units = (units | (units << 16U)) & 0x0000FFFF0000FFFFU;
        units = (units | (units << 8U)) & 0x00FF00FF00FF00FFU;
        std::memcpy(out + i + 4 * half, &units, sizeof units);
      }
    }
  }
  for (; i < count && in[i] < 0x80; ++i) out[i] = in[i];
  return i;
}

#if defined(__SSE2__) || defined(_M_X64)
// Sixteen bytes at a time: all sixteen are widened and stored, and the
// store counts up to the first byte above 0x7F. What lies past it is
// written over by what follows.
std::size_t WidenAsciiSse2(const std::uint8_t* in, std::size_t count, char16_t* out) noexcept {
  std::size_t i = 0;
  const __m128i zero = _mm_setzero_si128();
  for (; count - i >= 16; i += 16) {
    // NOLINTBEGIN(cppcoreguidelines-pro-type-reinterpret-cast): the intrinsics' own types
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(bytes, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(bytes, zero));
    // NOLINTEND(cppcoreguidelines-pro-type-reinterpret-cast)
    const auto high = static_cast<unsigned>(_mm_movemask_epi8(bytes));
    if (high != 0) return i + static_cast<std::size_t>(std::countr_zero(high));
  }
  for (; i < count && in[i] < 0x80; ++i) out[i] = in[i];
  return i;
}
#endif

// Decoded a block at a time: the text's storage is reserved once for the
// most code units the bytes can give (one per byte) and each block is
// appended to it, so nothing is written twice into the text and its storage
// is never filled with zeros first. A block is small enough to stay in the
// first-level cache.
constexpr std::size_t kBlockUnits = 1024;

template <Path kPath>
std::optional<std::u16string> DecodeUtf8(std::span<const std::uint8_t> bytes) {
  std::u16string text;
  text.reserve(bytes.size());
  // One unit of room past the end for the second half of a surrogate pair.
  std::array<char16_t, kBlockUnits + 1>
      block;  // NOLINT(cppcoreguidelines-pro-type-member-init): written before read
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    char16_t* out = block.data();
    char16_t* const end = block.data() + kBlockUnits;
    while (i < n && out < end) {
      if (bytes[i] < 0x80) {
        const std::size_t room = std::min(static_cast<std::size_t>(end - out), n - i);
        std::size_t run = 0;
#if defined(__SSE2__) || defined(_M_X64)
        if constexpr (kPath == Path::Sse2) {
          run = WidenAsciiSse2(bytes.data() + i, room, out);
        } else {
          run = WidenAsciiPortable(bytes.data() + i, room, out);
        }
#else
        run = WidenAsciiPortable(bytes.data() + i, room, out);
#endif
        i += run;
        out += run;
        continue;
      }
      const std::int32_t cp = NextCodePoint(bytes, i);
      if (cp < 0) return std::nullopt;
      out = PutCodePoint(static_cast<std::uint32_t>(cp), out);
    }
    text.append(block.data(), static_cast<std::size_t>(out - block.data()));
  }
  return text;
}

#if defined(__SSE2__) || defined(_M_X64)
constexpr Path kDefaultPath = Path::Sse2;
#else
constexpr Path kDefaultPath = Path::Portable;
#endif

}  // namespace

std::optional<std::u16string> Utf8ToUtf16(std::span<const std::uint8_t> bytes) {
  return DecodeUtf8<kDefaultPath>(bytes);
}

namespace text_paths {

std::optional<std::u16string> Utf8ToUtf16(std::span<const std::uint8_t> bytes, Path path) {
  return path == Path::Sse2 ? DecodeUtf8<Path::Sse2>(bytes) : DecodeUtf8<Path::Portable>(bytes);
}

std::optional<std::u16string> Utf8ToUtf16Reference(std::span<const std::uint8_t> bytes) {
  std::u16string text;
  for (std::size_t i = 0; i < bytes.size();) {
    const std::int32_t cp = NextCodePoint(bytes, i);
    if (cp < 0) return std::nullopt;
    std::array<char16_t, 2> units{};
    const char16_t* end = PutCodePoint(static_cast<std::uint32_t>(cp), units.data());
    for (const char16_t* unit = units.data(); unit != end; ++unit) text.push_back(*unit);
  }
  return text;
}

}  // namespace text_paths

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10U) + (text[i + 1] - 0xDC00U);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0U | (cp >> 6U)));
      out.push_back(static_cast<char>(0x80U | (cp & 0x3FU)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0U | (cp >> 12U)));
      out.push_back(static_cast<char>(0x80U | ((cp >> 6U) & 0x3FU)));
      out.push_back(static_cast<char>(0x80U | (cp & 0x3FU)));
    } else {
      out.push_back(static_cast<char>(0xF0U | (cp >> 18U)));
      out.push_back(static_cast<char>(0x80U | ((cp >> 12U) & 0x3FU)));
      out.push_back(static_cast<char>(0x80U | ((cp >> 6U) & 0x3FU)));
      out.push_back(static_cast<char>(0x80U | (cp & 0x3FU)));
    }
  }
  return out;
}

}  // namespace ostrivane
