// POSIX sockets for the datagram receiver.
//
// Linux hands multicast datagrams only to sockets bound to the wildcard or to
// the group address, so a socket asked to bind a local address binds the
// wildcard address on the same port instead and keeps, per datagram, only
// those sent to that address or to its joined group on that address's
// interface (IP_PKTINFO tells both). Address reuse stays off, so a second
// program asking for the port still fails to bind.
//
// Socket errors are reported with the Winsock number of the same meaning; a
// failure to list the local addresses is reported with errno and the
// system's own text for it (there is no Windows number to borrow for most).
#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <system_error>

#include "net/ipv4_address.h"
#include "net/socket_error.h"
#include "net/udp_platform.h"
#include "support/system_error.h"

namespace ostrivane {
namespace {

// errno as the Winsock error number of the same meaning.
int WinsockCodeOf(int error) noexcept {
  switch (error) {
    case EINTR:
      return 10004;
    case EBADF:
      return 10009;
    case EACCES:
    case EPERM:
      return 10013;
    case EFAULT:
      return 10014;
    case EINVAL:
      return 10022;
    case EMFILE:
    case ENFILE:
      return 10024;
    case EWOULDBLOCK:
      return 10035;
    case EINPROGRESS:
      return 10036;
    case EALREADY:
      return 10037;
    case ENOTSOCK:
      return 10038;
    case EDESTADDRREQ:
      return 10039;
    case EMSGSIZE:
      return 10040;
    case EPROTOTYPE:
      return 10041;
    case ENOPROTOOPT:
      return 10042;
    case EPROTONOSUPPORT:
      return 10043;
    case ESOCKTNOSUPPORT:
      return 10044;
    case EOPNOTSUPP:
      return 10045;
    case EPFNOSUPPORT:
      return 10046;
    case EAFNOSUPPORT:
      return 10047;
    case EADDRINUSE:
      return 10048;
    case EADDRNOTAVAIL:
      return 10049;
    case ENETDOWN:
      return 10050;
    case ENETUNREACH:
    case ENODEV:
      return 10051;
    case ENETRESET:
      return 10052;
    case ECONNABORTED:
      return 10053;
    case ECONNRESET:
      return 10054;
    case ENOBUFS:
    case ENOMEM:
      return 10055;
    case EISCONN:
      return 10056;
    case ENOTCONN:
      return 10057;
    case ESHUTDOWN:
      return 10058;
    case ETOOMANYREFS:
      return 10059;
    case ETIMEDOUT:
      return 10060;
    case ECONNREFUSED:
      return 10061;
    case ELOOP:
      return 10062;
    case ENAMETOOLONG:
      return 10063;
    case EHOSTDOWN:
      return 10064;
    case EHOSTUNREACH:
      return 10065;
    case ENOTEMPTY:
      return 10066;
    default:
      return 10000 + error;
  }
}

[[noreturn]] void RaiseSocketError(int error) { throw ESocketError(WinsockCodeOf(error)); }

// Owns one descriptor.
class Fd {
 public:
  explicit Fd(int fd = -1) noexcept : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  [[nodiscard]] int Get() const noexcept { return fd_; }
  void Reset(int fd = -1) noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

// The system's list of interface addresses, or the errno of its failure.
struct IfAddrs {
  ifaddrs* list = nullptr;
  int error = 0;
  IfAddrs() noexcept {
    if (::getifaddrs(&list) != 0) {
      error = errno;
      list = nullptr;
    }
  }
  ~IfAddrs() {
    if (list != nullptr) ::freeifaddrs(list);
  }
  IfAddrs(const IfAddrs&) = delete;
  IfAddrs& operator=(const IfAddrs&) = delete;
};

bool Usable(const ifaddrs& ifa) noexcept {
  return ifa.ifa_addr != nullptr && (ifa.ifa_flags & IFF_LOOPBACK) == 0 &&
         (ifa.ifa_flags & IFF_UP) != 0 && (ifa.ifa_flags & IFF_RUNNING) != 0;
}

// The system's form of a membership.
ip_mreq RequestOf(const IPv4Membership& membership) noexcept {
  return {ToSystemAddress<in_addr>(membership.group),
          ToSystemAddress<in_addr>(membership.interfaceAddress)};
}

// The index of the interface that holds `addr`, or 0 (also when the
// interfaces cannot be listed).
unsigned InterfaceIndexOf(in_addr addr) {
  const IfAddrs ifs;
  for (const ifaddrs* ifa = ifs.list; ifa != nullptr; ifa = ifa->ifa_next) {
    if (ifa->ifa_addr == nullptr || ifa->ifa_addr->sa_family != AF_INET) continue;
    sockaddr_in sin{};
    std::memcpy(&sin, ifa->ifa_addr, sizeof sin);
    if (sin.sin_addr.s_addr == addr.s_addr) return ::if_nametoindex(ifa->ifa_name);
  }
  return 0;
}

class PosixUdpSocket final : public IUdpSocket {
 public:
  PosixUdpSocket() {
    fd_.Reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (fd_.Get() < 0) RaiseSocketError(errno);
    std::array<int, 2> pipe{};
    if (::pipe2(pipe.data(), O_CLOEXEC | O_NONBLOCK) != 0) RaiseSocketError(errno);
    wakeRead_.Reset(pipe[0]);
    wakeWrite_.Reset(pipe[1]);
    const int on = 1;
    const int off = 0;
    // Which address and interface each datagram came to; and only the
    // groups this socket joined itself.
    if (::setsockopt(fd_.Get(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0) {
      RaiseSocketError(errno);
    }
    ::setsockopt(fd_.Get(), IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off);
  }

  void SetReuseAddress(bool on) override {
    const int value = on ? 1 : 0;
    if (::setsockopt(fd_.Get(), SOL_SOCKET, SO_REUSEADDR, &value, sizeof value) != 0) {
      RaiseSocketError(errno);
    }
  }

  void Bind(const std::string& localAddress, std::uint16_t port) override {
    if (!localAddress.empty()) {
      const auto parsed = ParseIPv4(localAddress);
      if (!parsed) throw EBindError();
      const auto addr = ToSystemAddress<in_addr>(*parsed);
      const unsigned index = InterfaceIndexOf(addr);
      if (index == 0) throw EBindError();  // the address is gone
      filter_ = true;
      local_ = addr;
      interfaceIndex_ = index;
    }
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd_.Get(), reinterpret_cast<const sockaddr*>(&sin), sizeof sin) != 0) {
      throw EBindError();
    }
  }

  void JoinGroup(const std::string& group, const std::string& interfaceAddress) override {
    const auto membership = ParseMembership(group, interfaceAddress);
    if (!membership) RaiseSocketError(EINVAL);
    ip_mreq request = RequestOf(*membership);
    if (::setsockopt(fd_.Get(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) != 0) {
      int error = errno;
      // Without a route for multicast there is no default interface to join
      // on; a machine whose only address is loopback then joins there.
      if (error == ENODEV && interfaceAddress.empty()) {
        request.imr_interface.s_addr = htonl(INADDR_LOOPBACK);
        error =
            ::setsockopt(fd_.Get(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) == 0
                ? 0
                : errno;
        if (error == 0) joinedOnLoopback_ = true;
      }
      if (error != 0) RaiseSocketError(error);
    }
    group_ = request.imr_multiaddr;
  }

  void LeaveGroup(const std::string& group, const std::string& interfaceAddress) noexcept override {
    if (const auto membership = ParseMembership(group, interfaceAddress)) {
      ip_mreq request = RequestOf(*membership);
      if (joinedOnLoopback_) request.imr_interface.s_addr = htonl(INADDR_LOOPBACK);
      ::setsockopt(fd_.Get(), IPPROTO_IP, IP_DROP_MEMBERSHIP, &request, sizeof request);
    }
  }

  WaitResult WaitForDatagram(std::chrono::milliseconds timeout) override {
    if (closed_) return WaitResult::Closed;
    std::array<pollfd, 2> fds{pollfd{fd_.Get(), POLLIN, 0}, pollfd{wakeRead_.Get(), POLLIN, 0}};
    const int n = ::poll(fds.data(), fds.size(), static_cast<int>(timeout.count()));
    if (closed_ || (n > 0 && fds[1].revents != 0)) return WaitResult::Closed;
    if (n > 0 && fds[0].revents != 0) return WaitResult::Ready;
    return WaitResult::Timeout;  // also EINTR: the next pass waits again
  }

  ReadResult Read(std::span<std::uint8_t> buffer) override {
    if (closed_) return {ReadStatus::Failed, 0};
    iovec iov{buffer.data(), buffer.size()};
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(in_pktinfo))> control{};
    sockaddr_in from{};
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control.data();
    msg.msg_controllen = control.size();
    const ssize_t n = ::recvmsg(fd_.Get(), &msg, MSG_DONTWAIT);
    if (n < 0) {
      const int error = errno;
      if (closed_ || error == EBADF || error == ENOTSOCK || error == EINVAL) {
        return {ReadStatus::Failed, 0};
      }
      if (error == EAGAIN || error == EWOULDBLOCK) return {ReadStatus::Empty, 0};
      return {ReadStatus::Dropped, 0};  // a passing error
    }
    if ((msg.msg_flags & MSG_TRUNC) != 0) return {ReadStatus::Dropped, 0};
    if (filter_ && !MeantForUs(msg)) return {ReadStatus::Dropped, 0};
    return {ReadStatus::Datagram, static_cast<std::size_t>(n)};
  }

  void Close() noexcept override {
    if (closed_.exchange(true)) return;
    ::shutdown(fd_.Get(), SHUT_RDWR);
    const char wake = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wakeWrite_.Get(), &wake, 1);
  }

  [[nodiscard]] bool IsOpen() const noexcept override { return !closed_; }

 private:
  // Sent to our address, or to our group and arrived on our interface.
  bool MeantForUs(msghdr& msg) const noexcept {
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
      in_pktinfo info{};
      std::memcpy(&info, CMSG_DATA(c), sizeof info);
      if (info.ipi_addr.s_addr == local_.s_addr) return true;
      return info.ipi_addr.s_addr == group_.s_addr &&
             static_cast<unsigned>(info.ipi_ifindex) == interfaceIndex_;
    }
    return false;
  }

  Fd fd_;
  Fd wakeRead_;
  Fd wakeWrite_;
  std::atomic<bool> closed_{false};
  bool filter_ = false;
  bool joinedOnLoopback_ = false;
  in_addr local_{};
  in_addr group_{};
  unsigned interfaceIndex_ = 0;
};

class PosixUdpPlatform final : public IUdpPlatform {
 public:
  std::vector<LocalAddress> LocalAddresses() override {
    const IfAddrs ifs;
    if (ifs.error != 0) {
      throw ESystemError(static_cast<std::uint32_t>(ifs.error),
                         std::generic_category().message(ifs.error));
    }
    std::vector<LocalAddress> result;
    for (const ifaddrs* ifa = ifs.list; ifa != nullptr; ifa = ifa->ifa_next) {
      if (!Usable(*ifa)) continue;
      std::array<char, INET6_ADDRSTRLEN> text{};
      if (ifa->ifa_addr->sa_family == AF_INET) {
        sockaddr_in sin{};
        std::memcpy(&sin, ifa->ifa_addr, sizeof sin);
        ::inet_ntop(AF_INET, &sin.sin_addr, text.data(), text.size());
        // The name may be an address label ("eth0:1"); the system reads
        // the interface's own name from it.
        result.push_back({false, text.data(), ::if_nametoindex(ifa->ifa_name)});
      } else if (ifa->ifa_addr->sa_family == AF_INET6) {
        sockaddr_in6 sin6{};
        std::memcpy(&sin6, ifa->ifa_addr, sizeof sin6);
        ::inet_ntop(AF_INET6, &sin6.sin6_addr, text.data(), text.size());
        result.push_back({true, text.data(), ::if_nametoindex(ifa->ifa_name)});
      }
    }
    return result;
  }

  std::unique_ptr<IUdpSocket> CreateSocket() override { return std::make_unique<PosixUdpSocket>(); }
};

}  // namespace

IUdpPlatform& DefaultUdpPlatform() {
  static PosixUdpPlatform platform;
  return platform;
}

}  // namespace ostrivane
