// The owner's side of a slot on POSIX systems: a Unix datagram socket bound
// where relay/mailslot_endpoint.h says, in folders private to the user.
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "relay/mailslot_endpoint.h"
#include "tools/lvx_slot_monitor_platform.h"

namespace ostrivane::platform {

struct SlotServer::State {
  State(int descriptor, std::string socketPath, dev_t device, ino_t inode)
      : fd(descriptor), path(std::move(socketPath)), dev(device), ino(inode) {}
  // Removes the socket file too, unless someone has put another file in its
  // place.
  ~State() {
    ::close(fd);
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && st.st_dev == dev && st.st_ino == ino) {
      ::unlink(path.c_str());
    }
  }
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  int fd;
  std::string path;
  dev_t dev;
  ino_t ino;
};

SlotServer::SlotServer(std::unique_ptr<State> state) : state_(std::move(state)) {}
SlotServer::~SlotServer() = default;

namespace {

volatile std::sig_atomic_t gStop = 0;
// The signal mask of the waits: SIGINT and SIGTERM are blocked everywhere
// else, so that a stop is never missed between a check and the next wait.
sigset_t gWaitMask;

extern "C" void OnStopSignal(int /*signal*/) { gStop = 1; }

std::string ErrnoText(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// Makes `dir` if missing, then insists that it is a real folder of this user.
bool MakePrivateFolder(const std::string& dir, std::string& error) {
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    error = ErrnoText("cannot create folder", dir);
    return false;
  }
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0) {
    error = ErrnoText("cannot inspect", dir);
    return false;
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
    error = dir + " is not a folder of this user";
    return false;
  }
  return true;
}

// Creates the root and every folder between it and the endpoint.
bool MakeFolders(const std::string& root, const std::string& endpoint, std::string& error) {
  if (!MakePrivateFolder(root, error)) return false;
  struct stat st {};
  ::lstat(root.c_str(), &st);
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    error = root + " can be written by other users; make it private (chmod 700)";
    return false;
  }
  for (std::size_t slash = endpoint.find('/', root.size() + 1); slash != std::string::npos;
       slash = endpoint.find('/', slash + 1)) {
    const std::string dir = endpoint.substr(0, slash);
    if (dir.size() > root.size() && dir.back() != '/' && !MakePrivateFolder(dir, error)) {
      return false;
    }
  }
  return true;
}

// Clears the way for a new endpoint at `path`: nothing there, or a stale
// socket that nobody listens on any more (removed).
bool ClearStaleEndpoint(const std::string& path, const sockaddr_un& address, std::string& error) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return true;
    error = ErrnoText("cannot inspect", path);
    return false;
  }
  if (!S_ISSOCK(st.st_mode)) {
    error = path + " exists and is not a socket; not touching it";
    return false;
  }
  const int probe = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (probe < 0) {
    error = ErrnoText("cannot probe", path);
    return false;
  }
  const int connected =
      ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  const int connectErrno = errno;
  ::close(probe);
  if (connected == 0) {
    error = "a live endpoint already exists at " + path + " (is another monitor running?)";
    return false;
  }
  if (connectErrno != ECONNREFUSED) {
    errno = connectErrno;
    error = ErrnoText("cannot probe", path);
    return false;
  }
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    error = ErrnoText("cannot remove stale socket", path);
    return false;
  }
  return true;
}

// Waits for a stop signal or for `fd` to become readable (fd < 0: only for
// the timeout). Signals are delivered only inside this wait.
WaitOutcome Wait(int fd, const timespec* timeout) {
  pollfd p{fd, POLLIN, 0};
  const int n = ::ppoll(fd >= 0 ? &p : nullptr, fd >= 0 ? 1 : 0, timeout, &gWaitMask);
  if (gStop != 0) return WaitOutcome::kStopped;
  if (n < 0 && errno != EINTR) return WaitOutcome::kFailed;
  return WaitOutcome::kDone;
}

}  // namespace

SlotServerOpening OpenSlotServer(std::u16string_view fullPath) {
  SlotServerOpening opening;
  const std::string root = MailSlotRootDir(std::getenv("XDG_RUNTIME_DIR"), ::geteuid());
  const std::optional<std::string> path = MailSlotEndpointPath(fullPath, root);
  if (!path) {
    opening.error = "the slot path has no plain name";
    return opening;
  }
  opening.location = *path;
  if (!FitsMailSlotSocketAddress(*path)) {
    opening.error = "the endpoint path is too long for a socket: " + *path;
    return opening;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path->copy(address.sun_path, path->size());

  if (!MakeFolders(root, *path, opening.error) ||
      !ClearStaleEndpoint(*path, address, opening.error)) {
    return opening;
  }
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    opening.error = ErrnoText("cannot create a socket for", *path);
    return opening;
  }
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    opening.error = ErrnoText("cannot bind", *path);
    ::close(fd);
    return opening;
  }
  struct stat st {};
  if (::lstat(path->c_str(), &st) != 0) {
    opening.error = ErrnoText("cannot inspect", *path);
    ::close(fd);
    return opening;
  }
  opening.server = std::make_unique<SlotServer>(
      std::make_unique<SlotServer::State>(fd, *path, st.st_dev, st.st_ino));
  return opening;
}

void CatchStopRequests() {
  sigset_t blocked;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  sigaddset(&blocked, SIGTERM);
  sigprocmask(SIG_BLOCK, &blocked, &gWaitMask);
  sigdelset(&gWaitMask, SIGINT);
  sigdelset(&gWaitMask, SIGTERM);
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

WaitOutcome ReadSlotMessage(SlotServer& slot, std::size_t keep, std::vector<std::uint8_t>& bytes,
                            std::size_t& length, std::string& error) {
  SlotServer::State& server = slot.state();
  ssize_t size = -1;
  while (size < 0) {
    const WaitOutcome waited = Wait(server.fd, nullptr);
    if (waited != WaitOutcome::kDone) return waited;
    // The size first, so that the buffer fits the message.
    size = ::recv(server.fd, nullptr, 0, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
    if (size < 0 && errno != EAGAIN && errno != EINTR) {
      error = ErrnoText("cannot read from", server.path);
      return WaitOutcome::kFailed;
    }
  }
  bytes.resize(std::min(static_cast<std::size_t>(size), keep));
  const ssize_t got = ::recv(server.fd, bytes.data(), bytes.size(), MSG_TRUNC | MSG_DONTWAIT);
  if (got < 0) {
    error = ErrnoText("cannot read from", server.path);
    return WaitOutcome::kFailed;
  }
  length = static_cast<std::size_t>(got);
  bytes.resize(std::min(length, bytes.size()));
  return WaitOutcome::kDone;
}

WaitOutcome Pause(unsigned long milliseconds) {
  timespec delay{};
  delay.tv_sec = static_cast<std::time_t>(milliseconds / 1000);
  delay.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  return Wait(-1, &delay);
}

SlotMonitorHelp SlotMonitorHelpTexts() {
  return {R"(The endpoint is the Unix datagram socket
  $XDG_RUNTIME_DIR/mailslot/<slot>   (/tmp/mailslot-<uid>/<slot> when
                                      XDG_RUNTIME_DIR is unset, empty or
                                      not an absolute path)
with the slot name's backslashes turned into slashes. Missing folders are
created private to the user (mode 0700). A live endpoint of another monitor
is never replaced; a stale socket file left behind is removed. The endpoint
is removed again when the monitor ends.
)",
          "Ends on SIGINT or SIGTERM, or after --count messages.\n"};
}

}  // namespace ostrivane::platform
