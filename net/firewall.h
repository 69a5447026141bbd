// The system's firewall as the relay sees it: whether the datagrams it waits
// for can reach it at all, and a way to let them through.
//
// The relay never sends, so a firewall that blocks unsolicited inbound UDP
// silences it completely, and nothing else would tell the user why. The
// program asks the firewall on the main thread, once per occasion (each
// activation of the receiver, each opening of the tray menu); reading it
// needs no administrator. Changing it does, so the program hands that to a
// separate tool that runs elevated.
//
// IFirewall is an interface so that the tests can put a fake in the
// system's place. The system's own is DefaultFirewall(), defined in
// firewall_win32.cpp and firewall_posix.cpp.
#pragma once

#include <cstdint>
#include <functional>

namespace ostrivane {

// What the firewall does to inbound UDP for this program on the relay's port.
enum class TFirewallVerdict : std::uint8_t {
  NotKnown,  // the firewall could not be read, or there is none to read
  Allowed,   // off in every active profile, or let through in each of them
  Blocked,   // dropped in at least one active profile
};

class IFirewall {
 public:
  virtual ~IFirewall() = default;
  // The verdict for this program, inbound UDP to the relay's port, as the
  // firewall's settings stand now. Never throws: any failure is NotKnown.
  [[nodiscard]] virtual TFirewallVerdict Verdict() noexcept = 0;
  // Starts letting this program through (on Windows: the firewall tool
  // beside the program, which asks the user for administrator rights in its
  // own process). Returns at once, without waiting for the user;
  // `done` runs later on the main thread once that attempt has ended, however
  // it ended (done, refused, failed to start), and never from inside Allow.
  virtual void Allow(std::function<void()> done) = 0;
};

// The platform's firewall: one object for the whole process.
IFirewall& DefaultFirewall();

}  // namespace ostrivane
