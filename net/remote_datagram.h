// The remote datagram: 0x02, the header "LVXML", 0x02, then a UTF-8 payload
// that runs to the end of the datagram.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ostrivane {

inline constexpr std::uint8_t kRemoteDatagramMark = 0x02;
inline constexpr char kRemoteDatagramHeader[] = "LVXML";

// The remote command text a datagram carries, or nullopt when the datagram
// is to be dropped. A pure function of the bytes: it reads nothing outside
// them and allocates no more code units than the datagram has bytes.
std::optional<std::u16string> DecodeRemoteDatagram(std::span<const std::uint8_t> datagram);

// The datagram that carries `text`: 0x02, "LVXML", 0x02, then the text as
// UTF-8 (a lone surrogate becomes U+FFFD). DecodeRemoteDatagram gives the
// text back, except for an empty text, whose datagram it drops.
std::vector<std::uint8_t> EncodeRemoteDatagram(std::u16string_view text);

}  // namespace ostrivane
