// Where the network watch meets the system: a notice whenever the
// computer's interfaces or their IPv4 addresses change.
//
// The watch adds no thread. It gives the main thread's loop something to
// wait on together with its other work, a descriptor or a handle (Waitable),
// and the loop calls TakeNetworkChanges once that is ready. What the loop
// then does with a change is net/net_watch.h's business.
//
// net_watch_posix.cpp: a netlink route socket that hears of links and IPv4
// addresses (RTMGRP_LINK, RTMGRP_IPV4_IFADDR); the loop waits for it to
// become readable. net_watch_win32.cpp: Winsock's address list change
// (SIO_ADDRESS_LIST_CHANGE), asked for with an overlapped call whose event
// the loop waits for.
#pragma once

#include <cstdint>
#include <memory>

namespace ostrivane::platform {

// One open watch; what it holds is the platform's.
struct NetworkWatch;
struct NetworkWatchCloser {
  void operator()(NetworkWatch* watch) const noexcept;
};
using NetworkWatchPtr = std::unique_ptr<NetworkWatch, NetworkWatchCloser>;

// Starts watching. Null when the system cannot give a watch; the program
// then keeps the address it chose at start-up. Never raises.
NetworkWatchPtr OpenNetworkWatch() noexcept;

// What the loop waits on: POSIX a descriptor that becomes readable, Windows
// an event handle that becomes signalled.
std::intptr_t Waitable(const NetworkWatch& watch) noexcept;

// Takes the notices that are waiting, without blocking, and asks for the
// next ones. True when the system reported at least one change since the
// last call (also when notices were lost because too many came at once).
bool TakeNetworkChanges(NetworkWatch& watch) noexcept;

}  // namespace ostrivane::platform
