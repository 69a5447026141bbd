#include "net/ipv4_address.h"

namespace ostrivane {

std::optional<IPv4Address> ParseIPv4(std::string_view text) {
  IPv4Address address{};
  for (std::size_t part = 0; part < address.size(); ++part) {
    const bool last = part + 1 == address.size();
    const std::size_t dot = text.find('.');
    if (last != (dot == std::string_view::npos)) return std::nullopt;
    const std::string_view number = text.substr(0, dot);
    // One to three digits, and "0" is the only number to start with 0.
    if (number.empty() || number.size() > 3 || (number.size() > 1 && number.front() == '0')) {
      return std::nullopt;
    }
    unsigned value = 0;
    for (const char c : number) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 255) return std::nullopt;
    address[part] = static_cast<std::uint8_t>(value);
    if (!last) text.remove_prefix(dot + 1);
  }
  return address;
}

std::string IPv4Text(const IPv4Address& address) {
  return std::to_string(address[0]) + "." + std::to_string(address[1]) + "." +
         std::to_string(address[2]) + "." + std::to_string(address[3]);
}

bool IsIPv4Multicast(const IPv4Address& address) noexcept {
  return address[0] >= 224 && address[0] <= 239;
}

std::optional<IPv4Membership> ParseMembership(std::string_view group,
                                              std::string_view interfaceAddress) {
  IPv4Membership membership;
  const auto groupAddress = ParseIPv4(group);
  if (!groupAddress) return std::nullopt;
  membership.group = *groupAddress;
  if (!interfaceAddress.empty()) {
    const auto own = ParseIPv4(interfaceAddress);
    if (!own) return std::nullopt;
    membership.interfaceAddress = *own;
  }
  return membership;
}

}  // namespace ostrivane
