#include "support/utf8.h"

#include <bit>
#include <cstring>

namespace ostrivane {
namespace {

// Remote commands are mostly ASCII: runs of it are taken eight bytes at a
// time. The length of the run of ASCII bytes at bytes[i...].
std::size_t AsciiRun(std::span<const std::uint8_t> bytes, std::size_t i) noexcept {
  constexpr std::uint64_t kHighBits = 0x8080808080808080U;
  const std::size_t start = i;
  while (bytes.size() - i >= sizeof(std::uint64_t)) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes.data() + i, sizeof word);
    if ((word & kHighBits) != 0) break;
    i += sizeof word;
  }
  while (i < bytes.size() && bytes[i] < 0x80) ++i;
  return i - start;
}

// Widens `count` ASCII bytes into code units, four at a time on a
// little-endian machine: the four bytes spread out into the four 16-bit
// lanes of one 64-bit word.
void WidenAscii(const std::uint8_t* in, std::size_t count, char16_t* out) noexcept {
  if constexpr (std::endian::native == std::endian::little) {
    for (; count >= 4; count -= 4, in += 4, out += 4) {
      std::uint32_t four = 0;
      std::memcpy(&four, in, sizeof four);
      std::uint64_t units = four;
      units = (units | (units << 16U)) & 0x0000FFFF0000FFFFU;
      units = (units | (units << 8U)) & 0x00FF00FF00FF00FFU;
      std::memcpy(out, &units, sizeof units);
    }
  }
  for (; count > 0; --count) *out++ = *in++;
}

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

}  // namespace

std::optional<std::size_t> Utf16LengthOfUtf8(std::span<const std::uint8_t> bytes) noexcept {
  std::size_t units = 0;
  for (std::size_t i = 0; i < bytes.size();) {
    if (bytes[i] < 0x80) {
      const std::size_t run = AsciiRun(bytes, i);
      units += run;
      i += run;
      continue;
    }
    const std::int32_t cp = NextCodePoint(bytes, i);
    if (cp < 0) return std::nullopt;
    units += cp > 0xFFFF ? 2 : 1;
  }
  return units;
}

std::optional<std::u16string> Utf8ToUtf16(std::span<const std::uint8_t> bytes) {
  const auto units = Utf16LengthOfUtf8(bytes);
  if (!units) return std::nullopt;
  // Sized once and written through a pointer: the bytes are known to be
  // well-formed and to give exactly `units` code units.
  std::u16string text(*units, u'\0');
  char16_t* out = text.data();
  for (std::size_t i = 0; i < bytes.size();) {
    if (bytes[i] < 0x80) {
      const std::size_t run = AsciiRun(bytes, i);
      WidenAscii(bytes.data() + i, run, out);
      i += run;
      out += run;
      continue;
    }
    const auto cp = static_cast<std::uint32_t>(NextCodePoint(bytes, i));
    if (cp > 0xFFFF) {
      const std::uint32_t v = cp - 0x10000;
      *out++ = static_cast<char16_t>(0xD800 + (v >> 10U));
      *out++ = static_cast<char16_t>(0xDC00 + (v & 0x3FFU));
    } else {
      *out++ = static_cast<char16_t>(cp);
    }
  }
  return text;
}

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
