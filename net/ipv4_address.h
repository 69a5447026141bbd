// IPv4 addresses as dotted text: the one parser and formatter that the
// sockets of both platforms, the receiver and the tools share.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace ostrivane {

// The four bytes of an IPv4 address in network order: 224.0.0.1 is
// {224, 0, 0, 1}, laid out as the system's in_addr holds it.
using IPv4Address = std::array<std::uint8_t, 4>;

// The address as the system's in_addr (IN_ADDR), which holds the same four
// bytes, and back; for the platform files, which name the system's type.
template <typename SystemAddress>
SystemAddress ToSystemAddress(const IPv4Address& address) noexcept {
  static_assert(sizeof(SystemAddress) == sizeof(IPv4Address));
  SystemAddress result{};
  std::memcpy(&result, address.data(), address.size());
  return result;
}

template <typename SystemAddress>
IPv4Address FromSystemAddress(const SystemAddress& address) noexcept {
  static_assert(sizeof(SystemAddress) == sizeof(IPv4Address));
  IPv4Address result{};
  std::memcpy(result.data(), &address, result.size());
  return result;
}

// Dotted-decimal text "a.b.c.d" as inet_pton takes it: four decimal numbers
// from 0 to 255 without leading zeros, nothing before, between or after.
std::optional<IPv4Address> ParseIPv4(std::string_view text);

// "a.b.c.d", the form ParseIPv4 reads back.
std::string IPv4Text(const IPv4Address& address);

// The first number is 224 to 239.
bool IsIPv4Multicast(const IPv4Address& address) noexcept;

// The two addresses of a group membership as the system's join and leave
// take them: the group, and the interface's own address, 0.0.0.0 (the
// system's default multicast interface) for empty text.
struct IPv4Membership {
  IPv4Address group{};
  IPv4Address interfaceAddress{};
};

// Nothing when either text is not an address.
std::optional<IPv4Membership> ParseMembership(std::string_view group,
                                              std::string_view interfaceAddress);

}  // namespace ostrivane
