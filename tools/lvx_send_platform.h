// What lvx-send needs from the system: the bytes of a file or of standard
// input, and one UDP datagram sent (lvx_send_posix.cpp, lvx_send_win32.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "net/ipv4_address.h"

namespace ostrivane::platform {

// Reads at most `limit` bytes of the file `path` (UTF-8) into `out`. On
// failure `error` is the complaint: "cannot open PATH: ..." or "cannot read
// PATH: ...".
bool ReadFileBounded(const std::string& path, std::size_t limit, std::string& out,
                     std::string& error);

// Reads at most `limit` bytes of standard input into `out`; on failure
// `error` is the complaint.
bool ReadStandardInputBounded(std::size_t limit, std::string& out, std::string& error);

// Sends `datagram` as one UDP datagram to `to`:`port` with multicast loop-back
// on and, when `via` is given, the multicast interface of that address
// (IP_MULTICAST_IF). nullopt when it was sent whole, else the complaint.
std::optional<std::string> SendDatagram(const std::string& datagram, const IPv4Address& to,
                                        std::uint16_t port, const std::optional<IPv4Address>& via);

}  // namespace ostrivane::platform
