// lvx-slot-monitor: stands in for the presentation application. Creates the
// mailslot endpoint that the relay writes to and prints every message.
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "relay/mailslot.h"
#include "relay/mailslot_posix.h"
#include "support/cp1252.h"
#include "support/utf8.h"
#include "tools/tool_cli.h"

namespace ostrivane {
namespace {

using cli::Complain;
using cli::Failure;
using cli::kExitFailure;
using cli::kExitOk;
using cli::kExitUsage;
using cli::UsageError;

// Longer messages are counted in full but printed cut to this length.
constexpr std::size_t kMaxPrinted = std::size_t{1} << 20;

constexpr const char* kUsage = R"(Usage: lvx-slot-monitor [options]

Stands in for the presentation application: creates the mailslot endpoint for
a slot and prints every message written to it, until it is stopped.

The endpoint is the Unix datagram socket
  $XDG_RUNTIME_DIR/mailslot/<slot>   (/tmp/mailslot-<uid>/<slot> when
                                      XDG_RUNTIME_DIR is unset, empty or
                                      not an absolute path)
with the slot name's backslashes turned into slashes. Missing folders are
created private to the user (mode 0700). A live endpoint of another monitor
is never replaced; a stale socket file left behind is removed. The endpoint
is removed again when the monitor ends.

Output, one line per message on standard output, flushed at once:
  <length> <text>
<length> is the message's size in bytes, followed by one space. <text> is the
message decoded from code page 1252 and written as UTF-8, where a backslash
is written as \\ and every control character (bytes 00-1F and 7F, and the
bytes 81, 8D, 8F, 90 and 9D that code page 1252 leaves undefined) as \x
followed by two lowercase hex digits of its byte, so that each message is
exactly one line. With --hex, <text> is the bytes as lowercase hex pairs
instead. An empty message prints "0 ". Of a message longer than 1 MiB the
first 1 MiB is printed (its full length is given).
When the endpoint is ready, "lvx-slot-monitor: listening at <path>" goes to
standard error.

Options:
  --slot NAME          slot name (default "Lyravox\Messages")
  --hex                print the bytes in hex instead of the text
  --count N            end after N messages (N >= 1)
  --read-delay-ms N    wait N milliseconds before reading each message, to
                       play a slow reader
  --help               show this text

Ends on SIGINT or SIGTERM, or after --count messages.
Exit status: 0 ended normally, 1 runtime failure (the endpoint cannot be
created, is taken by a live endpoint, ...), 2 usage error.
)";

volatile std::sig_atomic_t gStop = 0;

extern "C" void OnStopSignal(int /*signal*/) { gStop = 1; }

struct Options {
  std::string slot = "Lyravox\\Messages";
  bool hex = false;
  std::optional<unsigned long> count;
  unsigned long readDelayMs = 0;
};

std::string ErrnoText(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// A decimal number in [min, max], nothing else.
std::optional<unsigned long> ParseNumber(std::string_view text, unsigned long min,
                                         unsigned long max) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  unsigned long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  if (value < min || value > max) return std::nullopt;
  return value;
}

// Parses the arguments; nullopt after a usage error or --help (with the exit
// code in `exitCode`).
std::optional<Options> ParseArguments(std::span<char*> args, int& exitCode) {
  Options options;
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string_view arg = args[i];
    std::optional<std::string_view> inlineValue;
    if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
      inlineValue = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
    }
    const auto value = [&]() -> std::optional<std::string_view> {
      if (inlineValue) return inlineValue;
      if (i + 1 < args.size()) return std::string_view(args[++i]);
      return std::nullopt;
    };
    const bool takesValue = arg == "--slot" || arg == "--count" || arg == "--read-delay-ms";
    if (!takesValue && inlineValue) {
      exitCode = UsageError("option " + std::string(arg) + " takes no value");
      return std::nullopt;
    }
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      exitCode = kExitOk;
      return std::nullopt;
    } else if (arg == "--hex") {
      options.hex = true;
    } else if (takesValue) {
      const auto v = value();
      if (!v) {
        exitCode = UsageError("option " + std::string(arg) + " needs a value");
        return std::nullopt;
      }
      if (arg == "--slot") {
        options.slot = std::string(*v);
      } else if (arg == "--count") {
        options.count = ParseNumber(*v, 1, 999999999);
        if (!options.count) {
          exitCode = UsageError("--count needs a whole number of at least 1");
          return std::nullopt;
        }
      } else {
        const auto delay = ParseNumber(*v, 0, 3600000);
        if (!delay) {
          exitCode = UsageError("--read-delay-ms needs a whole number of milliseconds");
          return std::nullopt;
        }
        options.readDelayMs = *delay;
      }
    } else {
      exitCode = UsageError("unknown argument '" + std::string(arg) + "'");
      return std::nullopt;
    }
  }
  return options;
}

// One output line's text: code page 1252 as UTF-8, escaped (see kUsage).
std::string EscapedText(std::span<const std::uint8_t> bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size());
  for (const std::uint8_t b : bytes) {
    const char16_t c = Cp1252CharToUtf16(b);
    if (c == u'\\') {
      out += "\\\\";
    } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 0x0F];
    } else {
      out += Utf16ToUtf8(std::u16string_view(&c, 1));
    }
  }
  return out;
}

std::string HexText(std::span<const std::uint8_t> bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const std::uint8_t b : bytes) {
    out += kHex[b >> 4];
    out += kHex[b & 0x0F];
  }
  return out;
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

// The bound endpoint; removes its socket file when it ends, unless someone
// has put another file in its place.
class BoundEndpoint {
 public:
  BoundEndpoint(int fd, std::string path, dev_t dev, ino_t ino)
      : fd_(fd), path_(std::move(path)), dev_(dev), ino_(ino) {}
  ~BoundEndpoint() {
    ::close(fd_);
    struct stat st {};
    if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_) {
      ::unlink(path_.c_str());
    }
  }
  BoundEndpoint(const BoundEndpoint&) = delete;
  BoundEndpoint& operator=(const BoundEndpoint&) = delete;
  [[nodiscard]] int fd() const { return fd_; }

 private:
  int fd_;
  std::string path_;
  dev_t dev_;
  ino_t ino_;
};

// Waits for the stop signal or `fd` to become readable (fd < 0: only for the
// timeout). Signals are delivered only inside this wait. Returns false when
// a stop was asked for or the wait failed (`failed` set).
bool Wait(int fd, const timespec* timeout, const sigset_t& waitMask, bool& failed) {
  pollfd p{fd, POLLIN, 0};
  const int n = ::ppoll(fd >= 0 ? &p : nullptr, fd >= 0 ? 1 : 0, timeout, &waitMask);
  if (gStop != 0) return false;
  if (n < 0 && errno != EINTR) {
    failed = true;
    return false;
  }
  return true;
}

int Run(const Options& options) {
  const std::optional<std::u16string> slot = Utf8ToUtf16(
      std::span(reinterpret_cast<const std::uint8_t*>(options.slot.data()), options.slot.size()));
  if (!slot) return UsageError("the slot name is not UTF-8");
  const std::string root = MailSlotRootDir();
  const std::optional<std::string> path =
      MailSlotEndpointPath(std::u16string(kMailSlotPrefix) + *slot, root);
  if (!path) {
    return UsageError("invalid slot name '" + options.slot +
                      "' (empty, or with a '.' or '..' part, or a zero character)");
  }
  const std::optional<sockaddr_un> address = MailSlotSocketAddress(*path);
  if (!address) return Failure("the endpoint path is too long for a socket: " + *path);

  std::string error;
  if (!MakeFolders(root, *path, error) || !ClearStaleEndpoint(*path, *address, error)) {
    return Failure(error);
  }

  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return Failure(ErrnoText("cannot create a socket for", *path));
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof(sockaddr_un)) != 0) {
    const std::string text = ErrnoText("cannot bind", *path);
    ::close(fd);
    return Failure(text);
  }
  struct stat st {};
  if (::lstat(path->c_str(), &st) != 0) {
    const std::string text = ErrnoText("cannot inspect", *path);
    ::close(fd);
    return Failure(text);
  }
  const BoundEndpoint endpoint(fd, *path, st.st_dev, st.st_ino);

  // SIGINT and SIGTERM are blocked except inside the waits, so that a stop
  // is never missed between a check and the next wait.
  sigset_t blocked;
  sigset_t waitMask;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  sigaddset(&blocked, SIGTERM);
  sigprocmask(SIG_BLOCK, &blocked, &waitMask);
  sigdelset(&waitMask, SIGINT);
  sigdelset(&waitMask, SIGTERM);
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  std::fprintf(stderr, "lvx-slot-monitor: listening at %s\n", path->c_str());
  std::fflush(stderr);

  std::vector<std::uint8_t> buffer;
  bool failed = false;
  for (unsigned long received = 0; !options.count || received < *options.count; ++received) {
    if (options.readDelayMs > 0) {
      timespec delay{};
      delay.tv_sec = static_cast<std::time_t>(options.readDelayMs / 1000);
      delay.tv_nsec = static_cast<long>(options.readDelayMs % 1000) * 1000000L;
      if (!Wait(-1, &delay, waitMask, failed)) break;
    }
    ssize_t size = -1;
    while (size < 0) {
      if (!Wait(endpoint.fd(), nullptr, waitMask, failed)) break;
      // The size first, so that the buffer fits the message.
      size = ::recv(endpoint.fd(), nullptr, 0, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
      if (size < 0 && errno != EAGAIN && errno != EINTR) {
        Complain(ErrnoText("cannot read from", *path));
        failed = true;
        break;
      }
    }
    if (size < 0) break;
    buffer.resize(std::min(static_cast<std::size_t>(size), kMaxPrinted));
    const ssize_t got =
        ::recv(endpoint.fd(), buffer.data(), buffer.size(), MSG_TRUNC | MSG_DONTWAIT);
    if (got < 0) {
      Complain(ErrnoText("cannot read from", *path));
      failed = true;
      break;
    }
    const auto length = static_cast<std::size_t>(got);
    const std::span<const std::uint8_t> shown(buffer.data(), std::min(length, buffer.size()));
    if (shown.size() < length) {
      Complain("message of " + std::to_string(length) + " bytes printed cut to " +
               std::to_string(shown.size()));
    }
    const std::string text = options.hex ? HexText(shown) : EscapedText(shown);
    if (std::fprintf(stdout, "%zu %s\n", length, text.c_str()) < 0 || std::fflush(stdout) != 0) {
      Complain("cannot write to standard output");
      failed = true;
      break;
    }
  }
  return failed ? kExitFailure : kExitOk;
}

}  // namespace
}  // namespace ostrivane

int main(int argc, char** argv) {
  ostrivane::cli::g_toolName = "lvx-slot-monitor";
  int exitCode = ostrivane::kExitOk;
  const auto options =
      ostrivane::ParseArguments(std::span(argv, static_cast<std::size_t>(argc)), exitCode);
  if (!options) return exitCode;
  return ostrivane::Run(*options);
}
