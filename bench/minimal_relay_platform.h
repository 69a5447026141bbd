// Where the benchmark's minimal relay meets the system: a socket that
// receives the group's datagrams, and the endpoint it delivers to (a Unix
// datagram socket on POSIX, a mailslot on Windows).
#pragma once

#include <cstdint>
#include <span>

namespace ostrivane::platform {

// A socket on `port` that is a member of `group` on the interface of
// `interfaceAddress`. False (with a line on standard error) on failure.
bool OpenGroupSocket(const char* group, const char* interfaceAddress, std::uint16_t port);

// Attaches to the endpoint `endpoint` names (a socket path on POSIX, a slot
// name below "\\.\mailslot\" on Windows), which its owner has made. False
// (with a line on standard error) on failure.
bool AttachEndpoint(const char* endpoint);

// Blocks until a datagram arrives and reads it into `buffer`: its size, or
// -1 once the socket no longer works.
long ReceiveDatagram(std::span<std::uint8_t> buffer);

// Sends `message` to the endpoint as one message, blocking while the
// reader's queue is full. False when it was not delivered.
bool DeliverMessage(std::span<const std::uint8_t> message);

}  // namespace ostrivane::platform
