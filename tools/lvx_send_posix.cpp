// lvx-send's system side on POSIX systems: read(2) and a UDP socket.
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tools/lvx_send_platform.h"

namespace ostrivane::platform {
namespace {

// Reads at most `limit` bytes from `fd` into `out`; false on a read error.
bool ReadBounded(int fd, std::size_t limit, std::string& out) {
  char chunk[8192];
  while (out.size() < limit) {
    const std::size_t want = std::min(sizeof chunk, limit - out.size());
    const ssize_t n = ::read(fd, chunk, want);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out.append(chunk, static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

bool ReadFileBounded(const std::string& path, std::size_t limit, std::string& out,
                     std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  const bool ok = ReadBounded(fd, limit, out);
  const int readErrno = errno;
  ::close(fd);
  if (!ok) error = "cannot read " + path + ": " + std::strerror(readErrno);
  return ok;
}

bool ReadStandardInputBounded(std::size_t limit, std::string& out, std::string& error) {
  if (ReadBounded(STDIN_FILENO, limit, out)) return true;
  error = std::string("cannot read standard input: ") + std::strerror(errno);
  return false;
}

std::optional<std::string> SendDatagram(const std::string& datagram, const IPv4Address& to,
                                        std::uint16_t port, const std::optional<IPv4Address>& via) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::string("cannot create a socket: ") + std::strerror(errno);
  const unsigned char loop = 1;
  const in_addr viaAddress = via ? ToSystemAddress<in_addr>(*via) : in_addr{};
  if (::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) != 0 ||
      (via && ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &viaAddress, sizeof viaAddress) != 0)) {
    const std::string text = std::string("cannot set up the socket: ") + std::strerror(errno);
    ::close(fd);
    return text;
  }
  sockaddr_in destination{};
  destination.sin_family = AF_INET;
  destination.sin_port = htons(port);
  destination.sin_addr = ToSystemAddress<in_addr>(to);
  const ssize_t sent =
      ::sendto(fd, datagram.data(), datagram.size(), 0,
               reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
  const int sendErrno = errno;
  ::close(fd);
  if (sent < 0) {
    return "cannot send to " + IPv4Text(to) + ":" + std::to_string(port) + ": " +
           std::strerror(sendErrno);
  }
  if (static_cast<std::size_t>(sent) != datagram.size()) {
    return std::string("the datagram was sent cut short");
  }
  return std::nullopt;
}

}  // namespace ostrivane::platform
