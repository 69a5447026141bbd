// What the relay is doing, in the words the tray icon uses for it: the
// hint's second line, the firewall's balloon and the menu entry that lets
// the relay through. German (language 1) or English (language 2), like the
// main window's translation table.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/notification_icon.h"

namespace ostrivane {

enum class TRelayState : std::uint8_t {
  WaitingForNetwork,  // no address to listen on, or the receiver is not active
  Listening,          // active on an address, and the firewall is not known to block it
  Blocked,            // active on an address, and the firewall drops what comes
};

struct TRelayStatus {
  TRelayState State = TRelayState::WaitingForNetwork;
  std::string Address;  // dotted IPv4 text while listening or blocked
  friend bool operator==(const TRelayStatus&, const TRelayStatus&) = default;
};

// The hint's second line: "Listening on 192.168.1.20", "Waiting for a
// network", "Blocked by the firewall".
std::u16string RelayStatusLine(const TRelayStatus& status, int language);

// The whole hint: `title` on the first line, the status on the second, cut
// to what the notification area shows.
std::u16string RelayHint(std::u16string_view title, const TRelayStatus& status, int language);

// The caption of the menu entry that lets the relay through the firewall.
std::u16string AllowThroughFirewallCaption(int language);

// The balloon that says that the firewall blocks remote commands.
TBalloonHint FirewallBlocksBalloon(int language);

}  // namespace ostrivane
