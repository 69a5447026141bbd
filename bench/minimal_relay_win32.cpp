// The minimal relay on Windows: a Winsock UDP socket bound to the port on
// the interface's address, and a handle to the mailslot. Blocking calls
// only: recv waits for a datagram, WriteFile delivers one message.
#include <winsock2.h>

// After winsock2.h.
#include <windows.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <string>

#include "bench/minimal_relay_platform.h"

namespace ostrivane::platform {
namespace {

SOCKET g_group = INVALID_SOCKET;
HANDLE g_endpoint = INVALID_HANDLE_VALUE;

bool Fail(const char* what, unsigned long error) {
  std::fprintf(stderr, "minimal-relay: %s: error %lu\n", what, error);
  return false;
}

}  // namespace

bool OpenGroupSocket(const char* group, const char* interfaceAddress, std::uint16_t port) {
  WSADATA data{};
  if (const int error = WSAStartup(MAKEWORD(2, 2), &data); error != 0) {
    return Fail("WSAStartup", static_cast<unsigned long>(error));
  }
  g_group = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (g_group == INVALID_SOCKET)
    return Fail("socket", static_cast<unsigned long>(WSAGetLastError()));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  ip_mreq request{};
  if (inet_pton(AF_INET, interfaceAddress, &address.sin_addr) != 1 ||
      inet_pton(AF_INET, group, &request.imr_multiaddr) != 1) {
    return Fail("address", WSAEINVAL);
  }
  request.imr_interface = address.sin_addr;
  if (bind(g_group, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return Fail("bind", static_cast<unsigned long>(WSAGetLastError()));
  }
  if (setsockopt(g_group, IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&request),
                 sizeof request) != 0) {
    return Fail("join", static_cast<unsigned long>(WSAGetLastError()));
  }
  return true;
}

bool AttachEndpoint(const char* endpoint) {
  std::wstring path = L"\\\\.\\mailslot\\";
  for (const char* c = endpoint; *c != '\0'; ++c) path.push_back(static_cast<unsigned char>(*c));
  g_endpoint = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (g_endpoint == INVALID_HANDLE_VALUE) return Fail("CreateFileW", GetLastError());
  return true;
}

long ReceiveDatagram(std::span<std::uint8_t> buffer) {
  for (;;) {
    const int n =
        recv(g_group, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0);
    if (n >= 0) return n;
    // A datagram longer than the buffer is skipped; anything else ends the relay.
    if (WSAGetLastError() != WSAEMSGSIZE) return -1;
  }
}

bool DeliverMessage(std::span<const std::uint8_t> message) {
  DWORD written = 0;
  return WriteFile(g_endpoint, message.data(), static_cast<DWORD>(message.size()), &written,
                   nullptr) != FALSE;
}

}  // namespace ostrivane::platform
