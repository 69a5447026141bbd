#include <algorithm>

#include "support/dutil.h"

namespace ostrivane {

std::span<const std::uint8_t> SplitBytesView(std::span<const std::uint8_t>& bytes,
                                             std::uint8_t separator) noexcept {
  const auto found = std::find(bytes.begin(), bytes.end(), separator);
  const auto p = static_cast<std::size_t>(found - bytes.begin());
  const auto head = bytes.first(p);
  bytes = found == bytes.end() ? bytes.last(0) : bytes.subspan(p + 1);
  return head;
}

void SplitBytes(Bytes& bytes, std::uint8_t separator, Bytes& head) {
  std::span<const std::uint8_t> rest(bytes);
  const auto front = SplitBytesView(rest, separator);
  Bytes newHead(front.begin(), front.end());
  Bytes newRest(rest.begin(), rest.end());
  head = std::move(newHead);
  bytes = std::move(newRest);
}

}  // namespace ostrivane
