// Winsock sockets and the IP Helper's address list for the datagram
// receiver.
//
// Each socket is a blocking IPv4 UDP socket. Its waits select on it together
// with a wake socket of its own: a UDP socket on 127.0.0.1 connected to
// itself, so that it takes datagrams from itself only. Close() marks the
// socket closed and sends the wake socket one byte, which ends a select in
// progress at once; closesocket under a select in another thread is not
// something to rely on. The handles never change while the object lives and
// are closed by its destructor: the client releases a socket only after its
// listener has ended, so no wait or read can be using them then.
//
// Winsock is started (version 2.2) by the process's one platform object and
// cleaned up when that object goes at the end of the process.
//
// The address list also leaves out adapters that are not up (OperStatus):
// their addresses cannot receive, and Wine lists them with every address
// marked preferred. This matches the POSIX side, which takes only interfaces
// that are up and running. The older listing (GetAdaptersInfo, for systems
// without GetAdaptersAddresses) has no adapter state to go by.
#include <winsock2.h>

// After winsock2.h.
#include <iphlpapi.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "net/ipv4_address.h"
#include "net/socket_error.h"
#include "net/udp_platform.h"
#include "support/system_error.h"

namespace ostrivane {
namespace {

// Flags of the address list: no anycast, multicast or DNS-server entries,
// no friendly names.
constexpr ULONG kAddressListFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                                    GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_FRIENDLY_NAME;
static_assert(kAddressListFlags == 0x2E);

// How often a listing is asked again with the larger buffer the system names.
constexpr int kListingAttempts = 8;

[[noreturn]] void RaiseSocketError(int code) { throw ESocketError(code); }
[[noreturn]] void RaiseLastSocketError() { RaiseSocketError(::WSAGetLastError()); }

// Owns one socket handle.
class SocketHandle {
 public:
  explicit SocketHandle(SOCKET s = INVALID_SOCKET) noexcept : s_(s) {}
  ~SocketHandle() {
    if (s_ != INVALID_SOCKET) ::closesocket(s_);
  }
  SocketHandle(const SocketHandle&) = delete;
  SocketHandle& operator=(const SocketHandle&) = delete;
  [[nodiscard]] SOCKET Get() const noexcept { return s_; }
  // Gives the handle up without closing it.
  SOCKET Release() noexcept { return std::exchange(s_, INVALID_SOCKET); }

 private:
  SOCKET s_;
};

// A new IPv4 UDP socket (blocking, as sockets start).
SOCKET NewUdpSocket() {
  const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (s == INVALID_SOCKET) RaiseLastSocketError();
  return s;
}

// The system's form of a membership.
ip_mreq RequestOf(const IPv4Membership& membership) noexcept {
  return {ToSystemAddress<IN_ADDR>(membership.group),
          ToSystemAddress<IN_ADDR>(membership.interfaceAddress)};
}

// A UDP socket on 127.0.0.1 connected to itself.
SOCKET NewWakeSocket() {
  SocketHandle wake(NewUdpSocket());
  sockaddr_in self{};
  self.sin_family = AF_INET;
  self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof self;
  if (::bind(wake.Get(), reinterpret_cast<const sockaddr*>(&self), sizeof self) == SOCKET_ERROR ||
      ::getsockname(wake.Get(), reinterpret_cast<sockaddr*>(&self), &length) == SOCKET_ERROR ||
      ::connect(wake.Get(), reinterpret_cast<const sockaddr*>(&self), sizeof self) ==
          SOCKET_ERROR) {
    RaiseLastSocketError();
  }
  return wake.Release();
}

bool InSet(const fd_set& set, SOCKET s) noexcept {
  const u_int count = std::min<u_int>(set.fd_count, FD_SETSIZE);
  return std::find(set.fd_array, set.fd_array + count, s) != set.fd_array + count;
}

class Win32UdpSocket final : public IUdpSocket {
 public:
  Win32UdpSocket() : socket_(NewUdpSocket()), wake_(NewWakeSocket()) {
    // Reads never wait (Read returns Empty); waiting is WaitForDatagram's.
    u_long nonBlocking = 1;
    if (::ioctlsocket(socket_.Get(), FIONBIO, &nonBlocking) == SOCKET_ERROR) {
      RaiseLastSocketError();
    }
  }
  ~Win32UdpSocket() override { Close(); }  // then the handles go
  Win32UdpSocket(const Win32UdpSocket&) = delete;
  Win32UdpSocket& operator=(const Win32UdpSocket&) = delete;

  void SetReuseAddress(bool on) override {
    const BOOL value = on ? TRUE : FALSE;
    if (::setsockopt(socket_.Get(), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&value),
                     sizeof value) == SOCKET_ERROR) {
      RaiseLastSocketError();
    }
  }

  void Bind(const std::string& localAddress, std::uint16_t port) override {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!localAddress.empty()) {
      const auto addr = ParseIPv4(localAddress);
      if (!addr) throw EBindError();
      sin.sin_addr = ToSystemAddress<IN_ADDR>(*addr);
    }
    if (::bind(socket_.Get(), reinterpret_cast<const sockaddr*>(&sin), sizeof sin) ==
        SOCKET_ERROR) {
      throw EBindError();
    }
  }

  void JoinGroup(const std::string& group, const std::string& interfaceAddress) override {
    const auto membership = ParseMembership(group, interfaceAddress);
    if (!membership) RaiseSocketError(WSAEINVAL);
    const ip_mreq request = RequestOf(*membership);
    if (::setsockopt(socket_.Get(), IPPROTO_IP, IP_ADD_MEMBERSHIP,
                     reinterpret_cast<const char*>(&request), sizeof request) == SOCKET_ERROR) {
      RaiseLastSocketError();
    }
  }

  void LeaveGroup(const std::string& group, const std::string& interfaceAddress) noexcept override {
    if (const auto membership = ParseMembership(group, interfaceAddress)) {
      const ip_mreq request = RequestOf(*membership);
      ::setsockopt(socket_.Get(), IPPROTO_IP, IP_DROP_MEMBERSHIP,
                   reinterpret_cast<const char*>(&request), sizeof request);
    }
  }

  WaitResult WaitForDatagram(std::chrono::milliseconds timeout) override {
    if (closed_) return WaitResult::Closed;
    fd_set ready{};
    ready.fd_count = 2;
    ready.fd_array[0] = socket_.Get();
    ready.fd_array[1] = wake_.Get();
    const auto ms = std::max<std::chrono::milliseconds::rep>(timeout.count(), 0);
    timeval wait{};
    wait.tv_sec = static_cast<long>(ms / 1000);
    wait.tv_usec = static_cast<long>((ms % 1000) * 1000);
    const int n = ::select(0, &ready, nullptr, nullptr, &wait);
    if (closed_) return WaitResult::Closed;
    if (n == SOCKET_ERROR) {
      const int error = ::WSAGetLastError();
      // Passing failures mean another pass; any other leaves nothing to wait on.
      return error == WSAEINTR || error == WSAEINPROGRESS ? WaitResult::Timeout
                                                          : WaitResult::Closed;
    }
    if (n > 0 && InSet(ready, wake_.Get())) {
      // Not closed, so not ours: take it away and look again next pass.
      std::array<char, 16> drain{};
      ::recv(wake_.Get(), drain.data(), static_cast<int>(drain.size()), 0);
    }
    if (n > 0 && InSet(ready, socket_.Get())) return WaitResult::Ready;
    return WaitResult::Timeout;
  }

  ReadResult Read(std::span<std::uint8_t> buffer) override {
    if (closed_) return {ReadStatus::Failed, 0};
    sockaddr_in from{};
    int fromLength = sizeof from;
    const int n = ::recvfrom(socket_.Get(), reinterpret_cast<char*>(buffer.data()),
                             static_cast<int>(std::min<std::size_t>(buffer.size(), INT_MAX)), 0,
                             reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n != SOCKET_ERROR) return {ReadStatus::Datagram, static_cast<std::size_t>(n)};
    const int error = ::WSAGetLastError();
    if (closed_) return {ReadStatus::Failed, 0};
    switch (error) {
      case WSAEWOULDBLOCK:
        return {ReadStatus::Empty, 0};
      case WSAEMSGSIZE:  // longer than the buffer: the system dropped the rest
      case WSAECONNRESET:
      case WSAENETRESET:
      case WSAEINTR:
      case WSAEINPROGRESS:
      case WSAETIMEDOUT:
      case WSAENOBUFS:
        return {ReadStatus::Dropped, 0};
      default:
        return {ReadStatus::Failed, 0};
    }
  }

  void Close() noexcept override {
    if (closed_.exchange(true)) return;
    ::shutdown(socket_.Get(), SD_SEND);
    const char wake = 1;
    ::send(wake_.Get(), &wake, 1, 0);
  }

  [[nodiscard]] bool IsOpen() const noexcept override { return !closed_; }

 private:
  SocketHandle socket_;
  SocketHandle wake_;
  std::atomic<bool> closed_{false};
};

// Calls `list(buffer, &size)` with a buffer of `size` bytes, again with the
// size the system names while it answers `tooSmall`. The buffer is 8-byte
// aligned for the records the system writes into it.
template <typename List>
ULONG ListInto(std::vector<std::uint64_t>& buffer, ULONG size, ULONG tooSmall, List list) {
  ULONG result = tooSmall;
  for (int attempt = 0; attempt < kListingAttempts && result == tooSmall; ++attempt) {
    buffer.assign((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t) + 1, 0);
    size = static_cast<ULONG>(buffer.size() * sizeof(std::uint64_t));
    result = list(buffer.data(), &size);
  }
  return result;
}

using GetAdaptersAddressesFunction = ULONG(WINAPI*)(ULONG, ULONG, PVOID, PIP_ADAPTER_ADDRESSES,
                                                    PULONG);

// GetAdaptersAddresses where the system has it.
GetAdaptersAddressesFunction FindGetAdaptersAddresses() {
  HMODULE module = ::GetModuleHandleW(L"iphlpapi.dll");
  if (module == nullptr) module = ::LoadLibraryW(L"iphlpapi.dll");
  if (module == nullptr) return nullptr;
  const auto function =
      reinterpret_cast<void (*)()>(::GetProcAddress(module, "GetAdaptersAddresses"));
  return reinterpret_cast<GetAdaptersAddressesFunction>(function);
}

std::vector<LocalAddress> AdaptersAddresses(GetAdaptersAddressesFunction getAdaptersAddresses) {
  std::vector<std::uint64_t> buffer;
  // 15 KB is enough for most machines at the first attempt.
  const ULONG result =
      ListInto(buffer, 15 * 1024, ERROR_BUFFER_OVERFLOW, [&](std::uint64_t* data, PULONG size) {
        return getAdaptersAddresses(AF_UNSPEC, kAddressListFlags, nullptr,
                                    reinterpret_cast<PIP_ADAPTER_ADDRESSES>(data), size);
      });
  if (result == ERROR_NO_DATA) return {};
  if (result != NO_ERROR) throw ESystemError(result);

  std::vector<LocalAddress> addresses;
  for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data());
       adapter != nullptr; adapter = adapter->Next) {
    if (adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK ||
        (adapter->Flags & IP_ADAPTER_RECEIVE_ONLY) != 0 || adapter->OperStatus != IfOperStatusUp) {
      continue;
    }
    for (const auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
      const sockaddr* address = unicast->Address.lpSockaddr;
      if (unicast->DadState != IpDadStatePreferred || address == nullptr) continue;
      if (address->sa_family == AF_INET &&
          unicast->Address.iSockaddrLength >= static_cast<INT>(sizeof(sockaddr_in))) {
        sockaddr_in sin{};
        std::memcpy(&sin, address, sizeof sin);
        addresses.push_back({false, IPv4Text(FromSystemAddress(sin.sin_addr)), adapter->IfIndex});
      } else if (address->sa_family == AF_INET6 &&
                 unicast->Address.iSockaddrLength >= static_cast<INT>(sizeof(sockaddr_in6))) {
        sockaddr_in6 sin6{};
        std::memcpy(&sin6, address, sizeof sin6);
        std::array<char, INET6_ADDRSTRLEN> text{};
        if (::inet_ntop(AF_INET6, &sin6.sin6_addr, text.data(), text.size()) != nullptr) {
          addresses.push_back({true, text.data(), adapter->Ipv6IfIndex});
        }
      }
    }
  }
  return addresses;
}

// The IPv4 addresses of the receive-only (unidirectional) adapters.
std::vector<IPAddr> UnidirectionalAddresses() {
  std::vector<std::uint64_t> buffer;
  const ULONG result =
      ListInto(buffer, sizeof(IP_UNIDIRECTIONAL_ADAPTER_ADDRESS), ERROR_MORE_DATA,
               [](std::uint64_t* data, PULONG size) {
                 return ::GetUniDirectionalAdapterInfo(
                     reinterpret_cast<PIP_UNIDIRECTIONAL_ADAPTER_ADDRESS>(data), size);
               });
  if (result != NO_ERROR) return {};
  const auto* info = reinterpret_cast<const IP_UNIDIRECTIONAL_ADAPTER_ADDRESS*>(buffer.data());
  const std::size_t room = (buffer.size() * sizeof(std::uint64_t) -
                            offsetof(IP_UNIDIRECTIONAL_ADAPTER_ADDRESS, Address)) /
                           sizeof(IPAddr);
  const std::size_t count = std::min<std::size_t>(info->NumAdapters, room);
  return {info->Address, info->Address + count};
}

// The older listing: IPv4 entries only, without 0.0.0.0 (an adapter without
// an address) and receive-only adapters.
std::vector<LocalAddress> AdaptersInfo() {
  std::vector<std::uint64_t> buffer;
  const ULONG result =
      ListInto(buffer, 16 * sizeof(IP_ADAPTER_INFO), ERROR_BUFFER_OVERFLOW,
               [](std::uint64_t* data, PULONG size) {
                 return ::GetAdaptersInfo(reinterpret_cast<PIP_ADAPTER_INFO>(data), size);
               });
  if (result == ERROR_NO_DATA) return {};
  if (result != NO_ERROR) throw ESystemError(result);

  const auto unidirectional = UnidirectionalAddresses();
  std::vector<LocalAddress> addresses;
  for (auto* adapter = reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.data()); adapter != nullptr;
       adapter = adapter->Next) {
    for (const IP_ADDR_STRING* ip = &adapter->IpAddressList; ip != nullptr; ip = ip->Next) {
      const std::string text(ip->IpAddress.String,
                             ::strnlen(ip->IpAddress.String, sizeof ip->IpAddress.String));
      const auto addr = ParseIPv4(text);
      if (!addr || *addr == IPv4Address{}) continue;
      if (std::find(unidirectional.begin(), unidirectional.end(), ToSystemAddress<IPAddr>(*addr)) !=
          unidirectional.end()) {
        continue;
      }
      addresses.push_back({false, text, adapter->Index});
    }
  }
  return addresses;
}

class Win32UdpPlatform final : public IUdpPlatform {
 public:
  Win32UdpPlatform() noexcept : getAdaptersAddresses_(FindGetAdaptersAddresses()) {
    WSADATA data{};
    startupError_ = ::WSAStartup(MAKEWORD(2, 2), &data);
    if (startupError_ == 0 && data.wVersion != MAKEWORD(2, 2)) {
      ::WSACleanup();
      startupError_ = WSAVERNOTSUPPORTED;
    }
  }
  ~Win32UdpPlatform() override {
    if (startupError_ == 0) ::WSACleanup();
  }
  Win32UdpPlatform(const Win32UdpPlatform&) = delete;
  Win32UdpPlatform& operator=(const Win32UdpPlatform&) = delete;

  std::vector<LocalAddress> LocalAddresses() override {
    return getAdaptersAddresses_ != nullptr ? AdaptersAddresses(getAdaptersAddresses_)
                                            : AdaptersInfo();
  }

  std::unique_ptr<IUdpSocket> CreateSocket() override {
    if (startupError_ != 0) RaiseSocketError(startupError_);
    return std::make_unique<Win32UdpSocket>();
  }

 private:
  GetAdaptersAddressesFunction getAdaptersAddresses_;
  int startupError_ = 0;
};

}  // namespace

IUdpPlatform& DefaultUdpPlatform() {
  static Win32UdpPlatform platform;
  return platform;
}

}  // namespace ostrivane
