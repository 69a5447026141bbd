// The minimal relay on POSIX: a UDP socket bound to the port on every
// address, and a Unix datagram socket connected to the endpoint. Blocking
// calls only: recv waits for a datagram, send waits for room in the
// reader's queue.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "bench/minimal_relay_platform.h"

namespace ostrivane::platform {
namespace {

int g_group = -1;
int g_endpoint = -1;

bool Fail(const char* what) {
  std::fprintf(stderr, "minimal-relay: %s: %s\n", what, std::strerror(errno));
  return false;
}

}  // namespace

bool OpenGroupSocket(const char* group, const char* interfaceAddress, std::uint16_t port) {
  g_group = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (g_group < 0) return Fail("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(g_group, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return Fail("bind");
  }
  ip_mreq request{};
  if (::inet_pton(AF_INET, group, &request.imr_multiaddr) != 1 ||
      ::inet_pton(AF_INET, interfaceAddress, &request.imr_interface) != 1) {
    errno = EINVAL;
    return Fail("address");
  }
  if (::setsockopt(g_group, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) != 0) {
    return Fail("join");
  }
  return true;
}

bool AttachEndpoint(const char* endpoint) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (std::strlen(endpoint) >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    return Fail("endpoint");
  }
  std::strcpy(address.sun_path, endpoint);
  g_endpoint = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (g_endpoint < 0) return Fail("socket");
  if (::connect(g_endpoint, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return Fail("connect");
  }
  return true;
}

long ReceiveDatagram(std::span<std::uint8_t> buffer) {
  for (;;) {
    const ssize_t n = ::recv(g_group, buffer.data(), buffer.size(), 0);
    if (n >= 0) return static_cast<long>(n);
    if (errno != EINTR) return -1;
  }
}

bool DeliverMessage(std::span<const std::uint8_t> message) {
  for (;;) {
    if (::send(g_endpoint, message.data(), message.size(), MSG_NOSIGNAL) >= 0) return true;
    if (errno != EINTR) return false;
  }
}

}  // namespace ostrivane::platform
