#include "net/remote_datagram.h"

#include <algorithm>
#include <string_view>

#include "support/dutil.h"
#include "support/utf8.h"

namespace ostrivane {

std::optional<std::u16string> DecodeRemoteDatagram(std::span<const std::uint8_t> datagram) {
  if (datagram.empty() || datagram.front() != kRemoteDatagramMark) return std::nullopt;

  std::span<const std::uint8_t> rest = datagram;
  SplitBytesView(rest, kRemoteDatagramMark);  // the start byte; its head is empty
  const auto header = SplitBytesView(rest, kRemoteDatagramMark);
  const auto& payload = rest;

  // The header is compared byte for byte: a byte above 0x7F can never match
  // an ASCII letter, however a US-ASCII decoder would render it.
  const std::string_view expected(kRemoteDatagramHeader);
  if (!std::equal(header.begin(), header.end(), expected.begin(), expected.end(),
                  [](std::uint8_t b, char c) { return b == static_cast<std::uint8_t>(c); })) {
    return std::nullopt;
  }
  auto text = Utf8ToUtf16(payload);
  if (!text || text->empty()) return std::nullopt;
  return text;
}

std::vector<std::uint8_t> EncodeRemoteDatagram(std::u16string_view text) {
  const std::string payload = Utf16ToUtf8(text);
  const std::string_view header(kRemoteDatagramHeader);
  std::vector<std::uint8_t> datagram;
  datagram.reserve(header.size() + 2 + payload.size());
  datagram.push_back(kRemoteDatagramMark);
  datagram.insert(datagram.end(), header.begin(), header.end());
  datagram.push_back(kRemoteDatagramMark);
  datagram.insert(datagram.end(), payload.begin(), payload.end());
  return datagram;
}

}  // namespace ostrivane
