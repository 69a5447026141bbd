// The network watch on Windows: Winsock's address list change. An
// overlapped WSAIoctl(SIO_ADDRESS_LIST_CHANGE) on a socket of the watch's
// own completes when the computer's list of IPv4 addresses changes (an
// address added or removed; an adapter that loses its link loses its
// addresses) and signals the call's event; the main thread's message loop
// waits for that event together with its messages, then takes the change
// here and asks again.
//
// Why this and not the IP Helper's notifications: NotifyIpInterfaceChange
// and NotifyUnicastIpAddressChange call back on a thread of the system's,
// which would have to post a message to the main window; an event that the
// loop waits for needs no thread at all. NotifyAddrChange is the IP Helper's
// form of the same notice as this one. And this is the one that Wine (8.0)
// delivers: there NotifyIpInterfaceChange, NotifyUnicastIpAddressChange
// and NotifyAddrChange are stubs that never report a change (the unicast
// one calls back once, for the initial notification), while the overlapped
// SIO_ADDRESS_LIST_CHANGE completes on every address added or removed.
// Wine raises nothing when only a link goes down or up. The ioctl is part of
// Winsock 2, which every Windows since 2000 has, so it needs no entry in the
// optional-function table.
#include <winsock2.h>

// After winsock2.h.
#include <ws2tcpip.h>

#include <memory>
#include <new>

#include "net/net_watch_platform.h"

namespace ostrivane::platform {

namespace {

// How long closing the watch waits for the system to confirm that the
// outstanding call is cancelled (it writes into the watch until then).
constexpr DWORD kCancelWaitMs = 2000;

}  // namespace

struct NetworkWatch {
  NetworkWatch() = default;
  ~NetworkWatch() {
    if (pending) {
      ::CancelIoEx(reinterpret_cast<HANDLE>(socket), &overlapped);
      ::WaitForSingleObject(event, kCancelWaitMs);
    }
    if (socket != INVALID_SOCKET) ::closesocket(socket);
    if (event != nullptr) ::CloseHandle(event);
    if (started) ::WSACleanup();
  }
  NetworkWatch(const NetworkWatch&) = delete;
  NetworkWatch& operator=(const NetworkWatch&) = delete;

  // Asks for the next change. False when the system refuses the call.
  bool Arm() noexcept {
    ::ResetEvent(event);
    overlapped = WSAOVERLAPPED{};
    overlapped.hEvent = event;
    DWORD bytes = 0;
    const int result = ::WSAIoctl(socket, SIO_ADDRESS_LIST_CHANGE, nullptr, 0, nullptr, 0, &bytes,
                                  &overlapped, nullptr);
    // Done at once (a change came meanwhile) or under way: either way the
    // event tells the loop, and the call owns `overlapped` until then.
    pending = result == 0 || ::WSAGetLastError() == WSA_IO_PENDING;
    return pending;
  }

  bool started = false;
  SOCKET socket = INVALID_SOCKET;
  HANDLE event = nullptr;  // manual reset, signalled when the call is done
  WSAOVERLAPPED overlapped{};
  bool pending = false;  // a call is outstanding or done and not yet taken
};

void NetworkWatchCloser::operator()(NetworkWatch* watch) const noexcept {
  const std::unique_ptr<NetworkWatch> owned(watch);
}

NetworkWatchPtr OpenNetworkWatch() noexcept {
  std::unique_ptr<NetworkWatch> watch;
  try {
    watch = std::make_unique<NetworkWatch>();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  WSADATA data{};
  if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return nullptr;
  watch->started = true;
  watch->socket = ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_OVERLAPPED);
  if (watch->socket == INVALID_SOCKET) return nullptr;
  watch->event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (watch->event == nullptr || !watch->Arm()) return nullptr;
  return NetworkWatchPtr(watch.release());
}

std::intptr_t Waitable(const NetworkWatch& watch) noexcept {
  return reinterpret_cast<std::intptr_t>(watch.event);
}

bool TakeNetworkChanges(NetworkWatch& watch) noexcept {
  if (!watch.pending) {
    // The system refused the last call: try once more, without a notice.
    watch.Arm();
    return false;
  }
  // The event says whether the call is done. (Wine 8 leaves the status in
  // `overlapped` at success while the call is under way, so there
  // WSAGetOverlappedResult cannot tell.)
  if (::WaitForSingleObject(watch.event, 0) != WAIT_OBJECT_0) return false;
  DWORD bytes = 0;
  DWORD flags = 0;
  // Success or failure: the list may have changed either way.
  ::WSAGetOverlappedResult(watch.socket, &watch.overlapped, &bytes, FALSE, &flags);
  watch.Arm();
  return true;
}

}  // namespace ostrivane::platform
