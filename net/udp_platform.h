// What the datagram receiver needs from the system's sockets.
//
// IUdpPlatform and IUdpSocket are interfaces so that the tests can put a fake
// (net/udp_platform_fake.h) in the system's place. The system's own is
// DefaultUdpPlatform(), defined in udp_posix.cpp and udp_win32.cpp.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace ostrivane {

// One entry of the list of local addresses.
struct LocalAddress {
  bool ipv6 = false;
  std::string address;  // dotted text for IPv4
  // The system's number of the interface that holds the address; a new
  // number for the same address means that the interface was replaced (an
  // adapter unplugged and plugged in again). 0 where the system gives none.
  unsigned interfaceIndex = 0;

  bool operator==(const LocalAddress&) const = default;
};

// One blocking IPv4 UDP socket. Errors of set-up calls are raised as
// ESocketError (EBindError for the bind).
class IUdpSocket {
 public:
  virtual ~IUdpSocket() = default;  // releases the socket

  virtual void SetReuseAddress(bool on) = 0;
  // Binds to (localAddress, port); an empty address is the wildcard.
  virtual void Bind(const std::string& localAddress, std::uint16_t port) = 0;
  // Joins `group` on the interface of `interfaceAddress` (empty: the
  // system's default multicast interface).
  virtual void JoinGroup(const std::string& group, const std::string& interfaceAddress) = 0;
  virtual void LeaveGroup(const std::string& group,
                          const std::string& interfaceAddress) noexcept = 0;

  enum class WaitResult { Ready, Timeout, Closed };
  // Waits for a datagram. Returns Closed once Close() was called, also when
  // Close() comes from another thread during the wait, and when the socket
  // can no longer be waited on.
  virtual WaitResult WaitForDatagram(std::chrono::milliseconds timeout) = 0;

  enum class ReadStatus {
    Datagram,  // `size` bytes are in the buffer (0 for an empty datagram)
    Dropped,   // a datagram was consumed but is not to be delivered (too long, ...)
    Empty,     // no datagram was waiting: nothing was consumed
    Failed,    // the socket no longer works (closed, or a lasting error)
  };
  struct ReadResult {
    ReadStatus status = ReadStatus::Failed;
    std::size_t size = 0;
  };
  // Reads one datagram that is meant for this socket into `buffer`. Never
  // waits: with nothing there it returns Empty.
  virtual ReadResult Read(std::span<std::uint8_t> buffer) = 0;

  // Closes the socket. Safe to call while another thread waits or reads on
  // it: that wait or read returns. Never raises.
  virtual void Close() noexcept = 0;
  [[nodiscard]] virtual bool IsOpen() const noexcept = 0;
};

class IUdpPlatform {
 public:
  virtual ~IUdpPlatform() = default;
  // The local addresses in the system's order, leaving out loopback and
  // interfaces that cannot receive. Raises ESystemError on failure.
  virtual std::vector<LocalAddress> LocalAddresses() = 0;
  virtual std::unique_ptr<IUdpSocket> CreateSocket() = 0;
};

// The platform's sockets: one object for the whole process (on Windows it
// holds the process's Winsock start-up). Never raises.
IUdpPlatform& DefaultUdpPlatform();

}  // namespace ostrivane
