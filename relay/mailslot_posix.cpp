// The system's mailslots on POSIX systems: a slot is a Unix datagram socket
// that its owner has bound (relay/mailslot_endpoint.h says where).
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "relay/mailslot_endpoint.h"
#include "relay/mailslot_platform.h"

namespace ostrivane {
namespace {

static_assert(kMaxMailSlotSocketPath < sizeof(sockaddr_un{}.sun_path),
              "a socket path of the longest length must fit with its terminating zero");

// How long one send waits for room in a full reader queue before the
// attempt counts as failed. A reader that is busy for a moment loses
// nothing; a reader that has stopped reading costs a Write at most two such
// waits (the attempt and its retry) before the message is dropped.
constexpr int kSendTimeoutMs = 500;

// The root must be a real folder of this user that nobody else can write
// into, or someone else could put a socket in the slot's place.
bool RootIsPrivate(const std::string& root) {
  struct stat st {};
  if (::lstat(root.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

int ToDescriptor(MailSlotHandle handle) {
  if (handle > static_cast<MailSlotHandle>(INT_MAX)) return -1;
  return static_cast<int>(handle);
}

class PosixMailSlotSystem final : public IMailSlotSystem {
 public:
  MailSlotHandle Open(std::u16string_view fullPath) override {
    const std::string root = MailSlotRootDir(std::getenv("XDG_RUNTIME_DIR"), ::geteuid());
    const std::optional<std::string> path = MailSlotEndpointPath(fullPath, root);
    // A path too long for the address fails the open rather than being cut.
    if (!path || !FitsMailSlotSocketAddress(*path) || !RootIsPrivate(root)) {
      return kInvalidMailSlotHandle;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path->data(), path->size());

    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return kInvalidMailSlotHandle;
    // Blocking sends with a bounded wait: a full queue is waited on for a
    // moment, then the attempt fails.
    timeval timeout{};
    timeout.tv_sec = kSendTimeoutMs / 1000;
    timeout.tv_usec = static_cast<suseconds_t>(kSendTimeoutMs % 1000) * 1000;
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout) != 0 ||
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      ::close(fd);
      return kInvalidMailSlotHandle;
    }
    return static_cast<MailSlotHandle>(fd);
  }

  std::optional<std::size_t> Write(MailSlotHandle handle, const std::uint8_t* data,
                                   std::size_t count) override {
    const int fd = ToDescriptor(handle);
    if (fd < 0) return std::nullopt;
    for (;;) {
      // One send is one datagram, so one message keeps its boundary.
      const ssize_t sent = ::send(fd, data, count, MSG_NOSIGNAL);
      if (sent >= 0) return static_cast<std::size_t>(sent);
      // A signal is no delivery failure: send again.
      if (errno != EINTR) return std::nullopt;
    }
  }

  void Close(MailSlotHandle handle) override {
    const int fd = ToDescriptor(handle);
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

IMailSlotSystem& DefaultMailSlotSystem() {
  static PosixMailSlotSystem system;
  return system;
}

}  // namespace ostrivane
