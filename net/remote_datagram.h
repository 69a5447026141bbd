// The remote datagram: 0x02, the header "LVXML", 0x02, then a UTF-8 payload
// that runs to the end of the datagram.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace ostrivane {

inline constexpr std::uint8_t kRemoteDatagramMark = 0x02;
inline constexpr char kRemoteDatagramHeader[] = "LVXML";

// The remote command text a datagram carries, or nullopt when the datagram
// is to be dropped. A pure function of the bytes: it reads nothing outside
// them and allocates no more code units than the datagram has bytes.
std::optional<std::u16string> DecodeRemoteDatagram(std::span<const std::uint8_t> datagram);

}  // namespace ostrivane
