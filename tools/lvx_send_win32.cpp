// lvx-send's system side on Windows: files and standard input through
// ReadFile, the datagram through Winsock.
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h:
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "support/system_error.h"
#include "support/utf8.h"
#include "tools/lvx_send_platform.h"

namespace ostrivane::platform {
namespace {

std::string ErrorText(DWORD code) {
  const std::string text = SystemErrorText(code);
  return text.empty() ? "error " + std::to_string(code) : text;
}

// Reads at most `limit` bytes from `handle` into `out`; the error number on
// failure, 0 on success. A pipe whose writer has gone is at its end.
DWORD ReadBounded(HANDLE handle, std::size_t limit, std::string& out) {
  char chunk[8192];
  while (out.size() < limit) {
    const auto want = static_cast<DWORD>(std::min(sizeof chunk, limit - out.size()));
    DWORD got = 0;
    if (!ReadFile(handle, chunk, want, &got, nullptr)) {
      const DWORD error = GetLastError();
      return error == ERROR_BROKEN_PIPE ? 0 : error;
    }
    if (got == 0) return 0;
    out.append(chunk, got);
  }
  return 0;
}

// Winsock for the lifetime of the object.
class Winsock {
 public:
  Winsock() : error_(WSAStartup(MAKEWORD(2, 2), &data_)) {}
  ~Winsock() {
    if (error_ == 0) WSACleanup();
  }
  Winsock(const Winsock&) = delete;
  Winsock& operator=(const Winsock&) = delete;
  [[nodiscard]] int Error() const { return error_; }

 private:
  WSADATA data_{};
  int error_;
};

}  // namespace

bool ReadFileBounded(const std::string& path, std::size_t limit, std::string& out,
                     std::string& error) {
  const auto units =
      Utf8ToUtf16(std::span(reinterpret_cast<const std::uint8_t*>(path.data()), path.size()));
  if (!units || units->find(u'\0') != std::u16string::npos) {
    error = "cannot open " + path + ": " + ErrorText(ERROR_INVALID_NAME);
    return false;
  }
  const std::wstring widePath(units->begin(), units->end());
  const HANDLE file =
      CreateFileW(widePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = "cannot open " + path + ": " + ErrorText(GetLastError());
    return false;
  }
  const DWORD readError = ReadBounded(file, limit, out);
  CloseHandle(file);
  if (readError != 0) {
    error = "cannot read " + path + ": " + ErrorText(readError);
    return false;
  }
  return true;
}

bool ReadStandardInputBounded(std::size_t limit, std::string& out, std::string& error) {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  // No standard input at all reads as an empty one.
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return true;
  const DWORD readError = ReadBounded(input, limit, out);
  if (readError == 0) return true;
  error = "cannot read standard input: " + ErrorText(readError);
  return false;
}

std::optional<std::string> SendDatagram(const std::string& datagram, const IPv4Address& to,
                                        std::uint16_t port, const std::optional<IPv4Address>& via) {
  const Winsock winsock;
  if (winsock.Error() != 0) {
    return "cannot start Winsock: " + ErrorText(static_cast<DWORD>(winsock.Error()));
  }
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) {
    return "cannot create a socket: " + ErrorText(static_cast<DWORD>(WSAGetLastError()));
  }
  const DWORD loop = 1;
  const in_addr viaAddress = via ? ToSystemAddress<in_addr>(*via) : in_addr{};
  if (setsockopt(s, IPPROTO_IP, IP_MULTICAST_LOOP, reinterpret_cast<const char*>(&loop),
                 sizeof loop) != 0 ||
      (via && setsockopt(s, IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&viaAddress),
                         sizeof viaAddress) != 0)) {
    const std::string text =
        "cannot set up the socket: " + ErrorText(static_cast<DWORD>(WSAGetLastError()));
    closesocket(s);
    return text;
  }
  sockaddr_in destination{};
  destination.sin_family = AF_INET;
  destination.sin_port = htons(port);
  destination.sin_addr = ToSystemAddress<in_addr>(to);
  const int sent = sendto(s, datagram.data(), static_cast<int>(datagram.size()), 0,
                          reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
  const int sendError = WSAGetLastError();
  closesocket(s);
  if (sent == SOCKET_ERROR) {
    return "cannot send to " + IPv4Text(to) + ":" + std::to_string(port) + ": " +
           ErrorText(static_cast<DWORD>(sendError));
  }
  if (static_cast<std::size_t>(sent) != datagram.size()) {
    return std::string("the datagram was sent cut short");
  }
  return std::nullopt;
}

}  // namespace ostrivane::platform
