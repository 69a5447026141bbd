// The network watch on Linux: a netlink route socket in the groups of link
// changes and of IPv4 address changes. The kernel sends a message for every
// link that is added, removed or changes state, and for every IPv4 address
// that is added or removed; the main thread's loop waits for the socket to
// become readable (Qt: a QSocketNotifier) and then drains it here.
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

#include "net/net_watch_platform.h"

namespace ostrivane::platform {

struct NetworkWatch {
  explicit NetworkWatch(int socket) noexcept : fd(socket) {}
  ~NetworkWatch() { ::close(fd); }
  NetworkWatch(const NetworkWatch&) = delete;
  NetworkWatch& operator=(const NetworkWatch&) = delete;

  const int fd;
};

namespace {

// A netlink message of these kernels is at most a page; a longer one is cut
// (MSG_TRUNC) and still counts as a notice.
constexpr std::size_t kNoticeBuffer = 8192;
// Reads per call, so that a flood of notices cannot keep the main thread
// here; what is left makes the socket readable again.
constexpr int kReadsPerTake = 64;

bool IsChange(std::uint16_t type) noexcept {
  return type == RTM_NEWLINK || type == RTM_DELLINK || type == RTM_NEWADDR || type == RTM_DELADDR;
}

// Whether the `size` bytes of one datagram hold a notice of a change.
bool HoldsChange(const std::byte* data, std::size_t size) noexcept {
  // NLMSG_OK and NLMSG_NEXT walk the messages without reading past `size`.
  auto remaining = static_cast<int>(size);
  nlmsghdr header{};
  const std::byte* at = data;
  while (remaining >= static_cast<int>(sizeof header)) {
    std::memcpy(&header, at, sizeof header);
    if (header.nlmsg_len < sizeof header || static_cast<int>(header.nlmsg_len) > remaining) {
      // A message cut by the buffer: its header still names its type.
      return IsChange(header.nlmsg_type);
    }
    if (IsChange(header.nlmsg_type)) return true;
    const auto step = static_cast<int>(NLMSG_ALIGN(header.nlmsg_len));
    remaining -= step;
    at += step;
  }
  return false;
}

}  // namespace

void NetworkWatchCloser::operator()(NetworkWatch* watch) const noexcept {
  const std::unique_ptr<NetworkWatch> owned(watch);
}

NetworkWatchPtr OpenNetworkWatch() noexcept {
  const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
  if (fd < 0) return nullptr;
  std::unique_ptr<NetworkWatch> watch;
  try {
    watch = std::make_unique<NetworkWatch>(fd);
  } catch (const std::bad_alloc&) {
    ::close(fd);
    return nullptr;
  }
  sockaddr_nl local{};
  local.nl_family = AF_NETLINK;
  local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return nullptr;
  return NetworkWatchPtr(watch.release());
}

std::intptr_t Waitable(const NetworkWatch& watch) noexcept { return watch.fd; }

bool TakeNetworkChanges(NetworkWatch& watch) noexcept {
  bool changed = false;
  std::array<std::byte, kNoticeBuffer> buffer{};
  for (int read = 0; read < kReadsPerTake; ++read) {
    sockaddr_nl from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n = ::recvfrom(watch.fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n < 0) {
      if (errno == EINTR) continue;
      // The socket's queue ran over: notices were lost, so something changed.
      if (errno == ENOBUFS) {
        changed = true;
        continue;
      }
      break;  // EAGAIN: nothing more waits
    }
    // Only the kernel (port 0) speaks in these groups; a datagram from
    // anywhere else is not a notice.
    if (from.nl_pid != 0) continue;
    if (HoldsChange(buffer.data(), std::min(static_cast<std::size_t>(n), buffer.size()))) {
      changed = true;
    }
  }
  return changed;
}

}  // namespace ostrivane::platform
