// The Windows relay benchmark's end of the mailslot (bench/relay_bench.py
// --windows): under Wine, it owns the slot "Lyravox\Messages" as the
// presentation application would and sends every message it reads on,
// unchanged, as one UDP datagram to 127.0.0.1 at the given port, where the
// benchmark reads and times it. It says "slot-bridge: ready" on standard
// error once the slot exists.
//
// Usage: slot-bridge PORT
#include <winsock2.h>

// After winsock2.h.
#include <windows.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr wchar_t kSlot[] = L"\\\\.\\mailslot\\Lyravox\\Messages";
// Larger than any message: a shorter buffer would cut a message short.
constexpr DWORD kBufferSize = 65536;

int Fail(const char* what, unsigned long error) {
  std::fprintf(stderr, "slot-bridge: %s: error %lu\n", what, error);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const long port = argc == 2 ? std::strtol(argv[1], nullptr, 10) : 0;
  if (port <= 0 || port > 65535) {
    std::fprintf(stderr, "usage: slot-bridge PORT\n");
    return 2;
  }
  WSADATA data{};
  if (const int error = WSAStartup(MAKEWORD(2, 2), &data); error != 0) {
    return Fail("WSAStartup", static_cast<unsigned long>(error));
  }
  const SOCKET out = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (out == INVALID_SOCKET) return Fail("socket", static_cast<unsigned long>(WSAGetLastError()));
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<u_short>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(out, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    return Fail("connect", static_cast<unsigned long>(WSAGetLastError()));
  }
  const HANDLE slot = CreateMailslotW(kSlot, 0, MAILSLOT_WAIT_FOREVER, nullptr);
  if (slot == INVALID_HANDLE_VALUE) return Fail("CreateMailslotW", GetLastError());
  std::fprintf(stderr, "slot-bridge: ready\n");
  std::fflush(stderr);
  std::vector<char> buffer(kBufferSize);
  for (;;) {
    DWORD read = 0;
    if (ReadFile(slot, buffer.data(), kBufferSize, &read, nullptr) == FALSE) {
      // Wine fails the read of a zero-length message (109); nothing to send.
      if (GetLastError() == ERROR_BROKEN_PIPE) continue;
      return Fail("ReadFile", GetLastError());
    }
    send(out, buffer.data(), static_cast<int>(read), 0);
  }
}
