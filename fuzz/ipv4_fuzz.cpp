// The dotted IPv4 text parser on arbitrary bytes: it accepts exactly four
// numbers from 0 to 255, written without leading zeros and joined by single
// dots, and an accepted text is the very text IPv4Text writes for the
// address; any four bytes read back from their text. A membership (group,
// then the interface after the first line feed, possibly empty) parses
// exactly when both of its addresses do.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/fuzz_input.h"
#include "net/ipv4_address.h"

namespace {

using ostrivane::fuzz::Check;

bool IsNumber(std::string_view part) {
  if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == '0')) return false;
  unsigned value = 0;
  for (const char c : part) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value <= 255;
}

bool WellFormed(std::string_view text) {
  int parts = 0;
  for (;;) {
    const std::size_t dot = text.find('.');
    if (!IsNumber(text.substr(0, dot))) return false;
    ++parts;
    if (dot == std::string_view::npos) return parts == 4;
    text.remove_prefix(dot + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto address = ostrivane::ParseIPv4(text);
  Check(address.has_value() == WellFormed(text), "accepts exactly four numbers 0-255");
  if (address) Check(ostrivane::IPv4Text(*address) == text, "reads back as the same text");

  if (size >= 4) {
    const ostrivane::IPv4Address made{data[0], data[1], data[2], data[3]};
    Check(ostrivane::ParseIPv4(ostrivane::IPv4Text(made)) == made, "an address's text reads back");
  }

  const std::size_t newline = text.find('\n');
  if (newline != std::string_view::npos) {
    const std::string_view group = text.substr(0, newline);
    const std::string_view own = text.substr(newline + 1);
    const auto membership = ostrivane::ParseMembership(group, own);
    const bool both = WellFormed(group) && (own.empty() || WellFormed(own));
    Check(membership.has_value() == both, "a membership parses when both addresses do");
    if (membership) {
      Check(membership->group == *ostrivane::ParseIPv4(group), "the group as parsed");
      const ostrivane::IPv4Address any{};
      Check(membership->interfaceAddress == (own.empty() ? any : *ostrivane::ParseIPv4(own)),
            "the interface as parsed, 0.0.0.0 when empty");
    }
  }
  return 0;
}
