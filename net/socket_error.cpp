#include "net/socket_error.h"

#include <algorithm>
#include <array>
#include <iterator>

namespace ostrivane {
namespace {

struct ErrorText {
  int code;
  const char* text;
};

constexpr std::array kErrorTexts{
    ErrorText{10004, "Interrupted system call."},
    ErrorText{10009, "Bad file number."},
    ErrorText{10013, "Access denied."},
    ErrorText{10014, "Buffer fault."},
    ErrorText{10022, "Invalid argument."},
    ErrorText{10024, "Too many open files."},
    ErrorText{10035, "Operation would block."},
    ErrorText{10036, "Operation now in progress."},
    ErrorText{10037, "Operation already in progress."},
    ErrorText{10038, "Socket operation on non-socket."},
    ErrorText{10039, "Destination address required."},
    ErrorText{10040, "Message too long."},
    ErrorText{10041, "Protocol wrong type for socket."},
    ErrorText{10042, "Bad protocol option."},
    ErrorText{10043, "Protocol not supported."},
    ErrorText{10044, "Socket type not supported."},
    ErrorText{10045, "Operation not supported on socket."},
    ErrorText{10046, "Protocol family not supported."},
    ErrorText{10047, "Address family not supported by protocol family."},
    ErrorText{10048, "Address already in use."},
    ErrorText{10049, "Cannot assign requested address."},
    ErrorText{10050, "Network is down."},
    ErrorText{10051, "Network is unreachable."},
    ErrorText{10052, "Net dropped connection or reset."},
    ErrorText{10053, "Software caused connection abort."},
    ErrorText{10054, "Connection reset by peer."},
    ErrorText{10055, "No buffer space available."},
    ErrorText{10056, "Socket is already connected."},
    ErrorText{10057, "Socket is not connected."},
    ErrorText{10058, "Cannot send or receive after socket is closed."},
    ErrorText{10059, "Too many references, cannot splice."},
    ErrorText{10060, "Connection timed out."},
    ErrorText{10061, "Connection refused."},
    ErrorText{10062, "Too many levels of symbolic links."},
    ErrorText{10063, "File name too long."},
    ErrorText{10064, "Host is down."},
    ErrorText{10065, "No route to host."},
    ErrorText{10066, "Directory not empty"},
    ErrorText{11001, "Host not found."},
};

}  // namespace

const char* WinsockErrorText(int code) noexcept {
  const auto* it = std::find_if(kErrorTexts.begin(), kErrorTexts.end(),
                                [code](const ErrorText& e) { return e.code == code; });
  return it == kErrorTexts.end() ? "" : it->text;
}

ESocketError::ESocketError(int code)
    : std::runtime_error("Socket Error # " + std::to_string(code) + "\r\n" +
                         WinsockErrorText(code)),
      code_(code) {}

EBindError::EBindError()
    : std::runtime_error("Could not bind socket. Address and port are already in use.") {}

}  // namespace ostrivane
