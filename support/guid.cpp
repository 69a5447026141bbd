#include "support/guid.h"

#include <algorithm>
#include <cstddef>
#include <random>

namespace ostrivane {
namespace {

// The GUID whose text form lists these bytes in order.
TGUID GuidFromBytes(const std::uint8_t (&bytes)[16]) {
  TGUID guid;
  guid.D1 = static_cast<std::uint32_t>(bytes[0]) << 24U |
            static_cast<std::uint32_t>(bytes[1]) << 16U |
            static_cast<std::uint32_t>(bytes[2]) << 8U | bytes[3];
  guid.D2 = static_cast<std::uint16_t>(bytes[4] << 8U | bytes[5]);
  guid.D3 = static_cast<std::uint16_t>(bytes[6] << 8U | bytes[7]);
  std::copy(bytes + 8, bytes + 16, guid.D4.begin());
  return guid;
}

}  // namespace

std::optional<TGUID> ParseGuid(std::u16string_view text) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  constexpr std::size_t kLength = 38;
  if (text.size() != kLength || text.front() != u'{' || text.back() != u'}') return std::nullopt;
  std::uint8_t bytes[16]{};
  std::size_t nibble = 0;
  for (std::size_t i = 1; i + 1 < kLength; ++i) {
    const char16_t c = text[i];
    if (i == 9 || i == 14 || i == 19 || i == 24) {
      if (c != u'-') return std::nullopt;
      continue;
    }
    unsigned value = 0;
    if (c >= u'0' && c <= u'9') {
      value = static_cast<unsigned>(c - u'0');
    } else if (c >= u'a' && c <= u'f') {
      value = static_cast<unsigned>(c - u'a' + 10);
    } else if (c >= u'A' && c <= u'F') {
      value = static_cast<unsigned>(c - u'A' + 10);
    } else {
      return std::nullopt;
    }
    bytes[nibble / 2] =
        static_cast<std::uint8_t>(static_cast<unsigned>(bytes[nibble / 2]) << 4U | value);
    ++nibble;
  }
  return GuidFromBytes(bytes);
}

TGUID NewGuid() {
  std::random_device source;
  std::uint8_t bytes[16];
  for (auto& b : bytes) b = static_cast<std::uint8_t>(source());
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0FU) | 0x40U);  // version 4
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3FU) | 0x80U);  // RFC 4122 variant
  return GuidFromBytes(bytes);
}

}  // namespace ostrivane
