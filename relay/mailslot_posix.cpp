#include "relay/mailslot_posix.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "relay/mailslot.h"
#include "support/utf8.h"

namespace ostrivane {
namespace {

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
    const std::string root = MailSlotRootDir();
    const std::optional<std::string> path = MailSlotEndpointPath(fullPath, root);
    if (!path || !RootIsPrivate(root)) return kInvalidMailSlotHandle;
    const std::optional<sockaddr_un> address = MailSlotSocketAddress(*path);
    if (!address) return kInvalidMailSlotHandle;

    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return kInvalidMailSlotHandle;
    // Blocking sends with a bounded wait: a full queue is waited on for a
    // moment, then the attempt fails.
    timeval timeout{};
    timeout.tv_sec = kMailSlotSendTimeoutMs / 1000;
    timeout.tv_usec = static_cast<suseconds_t>(kMailSlotSendTimeoutMs % 1000) * 1000;
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout) != 0 ||
        ::connect(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof(sockaddr_un)) != 0) {
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

std::string MailSlotRootDir(const char* xdgRuntimeDir, uid_t uid) {
  // Relative values are ignored, as the XDG base directory rules ask.
  if (xdgRuntimeDir != nullptr && xdgRuntimeDir[0] == '/') {
    std::string root(xdgRuntimeDir);
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    if (root != "/") return root + "/mailslot";
    return "/mailslot";
  }
  return "/tmp/mailslot-" + std::to_string(uid);
}

std::string MailSlotRootDir() {
  return MailSlotRootDir(std::getenv("XDG_RUNTIME_DIR"), ::geteuid());
}

std::optional<std::string> MailSlotEndpointPath(std::u16string_view fullPath,
                                                std::string_view rootDir) {
  if (!fullPath.starts_with(kMailSlotPrefix)) return std::nullopt;
  const std::u16string_view name = fullPath.substr(kMailSlotPrefix.size());
  if (name.empty() || name.find(u'\0') != std::u16string_view::npos) return std::nullopt;

  std::u16string relative(name);
  for (char16_t& c : relative) {
    if (c == u'\\') c = u'/';
  }
  // Every component must stay below the root.
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = relative.find(u'/', start);
    const std::u16string_view part = std::u16string_view(relative).substr(
        start, end == std::u16string::npos ? end : end - start);
    if (part == u"." || part == u"..") return std::nullopt;
    if (end == std::u16string::npos) break;
    start = end + 1;
  }
  std::string path(rootDir);
  if (relative.front() != u'/') path += '/';
  path += Utf16ToUtf8(relative);
  return path;
}

std::optional<sockaddr_un> MailSlotSocketAddress(std::string_view path) {
  sockaddr_un address{};
  if (path.empty() || path.size() >= sizeof address.sun_path) return std::nullopt;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  return address;
}

IMailSlotSystem& DefaultMailSlotSystem() {
  static PosixMailSlotSystem system;
  return system;
}

}  // namespace ostrivane
