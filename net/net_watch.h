// Following the network: keeps the receiver on the computer's first usable
// IPv4 address while addresses come, go and move between interfaces.
//
// The system's watch (net/net_watch_platform.h) tells the main thread that
// an interface or an address changed; the main window passes each such
// notice to Changed() and runs a one-shot timer for the delay it answers,
// then calls Check(). A burst of notices thus leads to one look, after the
// burst has been quiet for kNetworkQuietPeriod.
//
// The look works out the address by the rule of the start-up activation
// (TLVUDPReceiver::ChooseAddress) and activates the receiver again when the
// address differs from the one it was activated on, when the interface
// behind that address has a new number (it was replaced), or when the
// receiver is not active (a failed activation, at start-up or at an earlier
// look). A failure is swallowed: the start-up's report is the only one the
// user sees, and the next notice tries again.
//
// Main thread only, like the receiver.
#pragma once

#include <chrono>
#include <optional>

#include "net/lv_udp.h"

namespace ostrivane {

// How long the notices must have been quiet before the look. A link that
// comes up brings its state, its addresses and their routes within some
// tens of milliseconds (an interface replaced under Wine gave its three
// notices within 160 ms); half a second covers such a burst several times
// over and still has the relay listening within a second of the last change.
inline constexpr std::chrono::milliseconds kNetworkQuietPeriod{500};
// Notices that never stop (a link going up and down) put the look off by
// at most this long from the first notice of the burst.
inline constexpr std::chrono::milliseconds kNetworkLongestDelay{3000};

class TNetworkWatch {
 public:
  using Clock = std::chrono::steady_clock;

  explicit TNetworkWatch(TLVUDPReceiver& receiver) noexcept : receiver_(receiver) {}

  // A notice of the system's watch at `now`. Answers how long from `now`
  // until the look: the caller (re)starts its timer with it.
  std::chrono::milliseconds Changed(Clock::time_point now);

  // The timer's call at `now`. Before the look is due (a notice came after
  // the timer was started) it answers the time still to wait, for the timer
  // to run again; otherwise it looks, re-activates when needed, and answers
  // nothing. Without a notice it does nothing. Never raises.
  std::optional<std::chrono::milliseconds> Check(Clock::time_point now);

  // Whether a look is waiting for its time.
  [[nodiscard]] bool Pending() const noexcept { return due_.has_value(); }

 private:
  // Raises the listing's error.
  [[nodiscard]] bool NeedsActivation();

  TLVUDPReceiver& receiver_;
  std::optional<Clock::time_point> burstStart_;
  std::optional<Clock::time_point> due_;
};

}  // namespace ostrivane
