// The system's mailslots on POSIX systems: a slot is a Unix datagram socket
// that its owner has bound (relay/mailslot_endpoint.h says where).
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
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

// The process's shutdown request as the waits see it: set once, never
// cleared. The pipe's write end gets a byte with it, so that a wait under
// way (which also watches the read end) ends at once. Plain atomics: a
// signal handler sets them.
std::atomic<bool> g_waitsCancelled{false};
std::atomic<int> g_cancelWriteEnd{-1};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

void WakeWaits() noexcept {
  const int fd = g_cancelWriteEnd.load();
  if (fd < 0) return;
  const int savedErrno = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(fd, &byte, 1);
  errno = savedErrno;
}

// The read end of the shutdown pipe, made once; -1 when none could be made
// (then a wait under way runs to its end, and later ones do not begin).
int CancelReadEnd() {
  static const int readEnd = [] {
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
    g_cancelWriteEnd.store(ends[1]);
    // A request that came before the pipe existed.
    if (g_waitsCancelled.load()) WakeWaits();
    return ends[0];
  }();
  return readEnd;
}

// Waits until `fd` may have room for a datagram, the deadline passes or the
// process is ending; true only in the first case.
bool WaitForRoom(int fd, MailSlotClock::time_point deadline) {
  const int cancelFd = CancelReadEnd();
  for (;;) {
    if (g_waitsCancelled.load()) return false;
    const MailSlotClock::duration left = deadline - MailSlotClock::now();
    if (left <= MailSlotClock::duration::zero()) return false;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    // (poll leaves out a descriptor of -1.)
    std::array<pollfd, 2> fds{{{fd, POLLOUT, 0}, {cancelFd, POLLIN, 0}}};
    const int ready =
        ::poll(fds.data(), fds.size(), static_cast<int>(std::min<decltype(ms)>(ms, INT_MAX)));
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) continue;
    if (fds[1].revents != 0) return false;
    // Room, or an error that the next send reports.
    if (fds[0].revents != 0) return true;
  }
}

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
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      ::close(fd);
      return kInvalidMailSlotHandle;
    }
    return static_cast<MailSlotHandle>(fd);
  }

  MailSlotWriteResult Write(MailSlotHandle handle, const std::uint8_t* data, std::size_t count,
                            MailSlotClock::duration roomWait) override {
    const int fd = ToDescriptor(handle);
    if (fd < 0) return {};
    const MailSlotClock::time_point deadline = MailSlotClock::now() + roomWait;
    for (;;) {
      // One send is one datagram, so one message keeps its boundary. The
      // send itself never blocks: waiting for room is WaitForRoom's.
      const ssize_t sent = ::send(fd, data, count, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (sent >= 0) return {MailSlotWriteStatus::Written, static_cast<std::size_t>(sent)};
      // A signal is no delivery failure: send again.
      if (errno == EINTR) continue;
      // Anything but a full queue: the reader is gone, or the message is
      // more than the socket takes.
      if (errno != EAGAIN && errno != EWOULDBLOCK) return {};
      if (!WaitForRoom(fd, deadline)) return {MailSlotWriteStatus::Full, 0};
    }
  }

  void Close(MailSlotHandle handle) override {
    const int fd = ToDescriptor(handle);
    if (fd >= 0) ::close(fd);
  }

  MailSlotClock::time_point Now() override { return MailSlotClock::now(); }
};

}  // namespace

IMailSlotSystem& DefaultMailSlotSystem() {
  static PosixMailSlotSystem system;
  return system;
}

void platform::CancelMailSlotWaits() noexcept {
  g_waitsCancelled.store(true);
  WakeWaits();
}

}  // namespace ostrivane
