// lvx-send: sends one remote datagram, as a sender on the network does.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "net/remote_datagram.h"
#include "relay/remote_command.h"
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

// The largest UDP payload over IPv4.
constexpr std::size_t kMaxDatagram = 65507;
constexpr std::size_t kHeaderSize = 7;  // 0x02 "LVXML" 0x02

constexpr const char* kUsage = R"(Usage: lvx-send [options] PAYLOAD

Sends one remote datagram: the byte 0x02, "LVXML", 0x02, then the payload as
UTF-8, as one UDP datagram. Nothing is answered.

PAYLOAD is exactly one of:
  --text TEXT          the text as given
  --file PATH          the bytes of a file
  --stdin, -           the bytes of standard input
  --action NAME        a remote command document for the action NAME, the
  [--param1 VALUE]       same layout as the test panel writes, encoded as
  [--param2 VALUE]       UTF-8 (parameters default to empty)

Options:
  --to ADDR            IPv4 destination address (default 224.0.0.1)
  --port N             UDP port (default 19151)
  --interface ADDR     outgoing interface for multicast, by its IPv4 address
                       (IP_MULTICAST_IF); multicast loop-back is always on
  --raw                send the payload bytes alone, without the header and
                       without checking them (for trying out bad datagrams)
  --help               show this text

Without --raw the payload must be well-formed UTF-8 and not empty. A datagram
longer than 65507 bytes is refused.
Exit status: 0 sent, 1 runtime failure (unreadable file, socket error),
2 usage error or refused payload.
)";

struct Options {
  enum class Source { kNone, kText, kFile, kStdin, kAction };
  Source source = Source::kNone;
  std::string text;  // --text value, --file path or --action name
  std::optional<std::string> param1;
  std::optional<std::string> param2;
  std::string to = "224.0.0.1";
  unsigned long port = 19151;
  std::optional<std::string> interfaceAddress;
  bool raw = false;
};

std::optional<unsigned long> ParsePort(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  unsigned long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  if (value < 1 || value > 65535) return std::nullopt;
  return value;
}

std::optional<in_addr> ParseAddress(const std::string& text) {
  in_addr address{};
  if (::inet_pton(AF_INET, text.c_str(), &address) != 1) return std::nullopt;
  return address;
}

std::optional<Options> ParseArguments(std::span<char*> args, int& exitCode) {
  Options options;
  const auto setSource = [&](Options::Source source, std::string value) {
    if (options.source != Options::Source::kNone) {
      exitCode = UsageError("give exactly one payload: --text, --file, --stdin or --action");
      return false;
    }
    options.source = source;
    options.text = std::move(value);
    return true;
  };
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string_view arg = args[i];
    std::optional<std::string_view> inlineValue;
    if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
      inlineValue = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
    }
    const bool takesValue = arg == "--text" || arg == "--file" || arg == "--action" ||
                            arg == "--param1" || arg == "--param2" || arg == "--to" ||
                            arg == "--port" || arg == "--interface";
    if (!takesValue && inlineValue) {
      exitCode = UsageError("option " + std::string(arg) + " takes no value");
      return std::nullopt;
    }
    std::string value;
    if (takesValue) {
      if (inlineValue) {
        value = std::string(*inlineValue);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        exitCode = UsageError("option " + std::string(arg) + " needs a value");
        return std::nullopt;
      }
    }
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      exitCode = kExitOk;
      return std::nullopt;
    } else if (arg == "--text") {
      if (!setSource(Options::Source::kText, value)) return std::nullopt;
    } else if (arg == "--file") {
      if (!setSource(Options::Source::kFile, value)) return std::nullopt;
    } else if (arg == "--stdin" || arg == "-") {
      if (!setSource(Options::Source::kStdin, {})) return std::nullopt;
    } else if (arg == "--action") {
      if (!setSource(Options::Source::kAction, value)) return std::nullopt;
    } else if (arg == "--param1") {
      options.param1 = value;
    } else if (arg == "--param2") {
      options.param2 = value;
    } else if (arg == "--to") {
      options.to = value;
    } else if (arg == "--port") {
      const auto port = ParsePort(value);
      if (!port) {
        exitCode = UsageError("--port needs a number from 1 to 65535");
        return std::nullopt;
      }
      options.port = *port;
    } else if (arg == "--interface") {
      options.interfaceAddress = value;
    } else if (arg == "--raw") {
      options.raw = true;
    } else {
      exitCode = UsageError("unknown argument '" + std::string(arg) + "'");
      return std::nullopt;
    }
  }
  if (options.source == Options::Source::kNone) {
    exitCode = UsageError("no payload: give --text, --file, --stdin or --action");
    return std::nullopt;
  }
  if ((options.param1 || options.param2) && options.source != Options::Source::kAction) {
    exitCode = UsageError("--param1 and --param2 belong to --action");
    return std::nullopt;
  }
  if (options.raw && options.source == Options::Source::kAction) {
    exitCode = UsageError("--raw does not go with --action");
    return std::nullopt;
  }
  return options;
}

// Reads at most `limit` bytes from `fd` into `out`; false on a read error.
bool ReadBounded(int fd, std::size_t limit, std::string& out) {
  char chunk[8192];
  while (out.size() < limit) {
    const std::size_t want = std::min(sizeof chunk, limit - out.size());
    const ssize_t n = ::read(fd, chunk, want);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out.append(chunk, static_cast<std::size_t>(n));
  }
  return true;
}

std::optional<std::u16string> ArgumentText(const std::string& text) {
  return Utf8ToUtf16(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

int Run(const Options& options) {
  const auto to = ParseAddress(options.to);
  if (!to) return UsageError("--to needs an IPv4 address, not '" + options.to + "'");
  std::optional<in_addr> via;
  if (options.interfaceAddress) {
    via = ParseAddress(*options.interfaceAddress);
    if (!via) return UsageError("--interface needs an IPv4 address");
  }

  const std::size_t maxPayload = kMaxDatagram - (options.raw ? 0 : kHeaderSize);
  std::string payload;
  switch (options.source) {
    case Options::Source::kText:
      payload = options.text;
      break;
    case Options::Source::kFile: {
      const int fd = ::open(options.text.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) return Failure("cannot open " + options.text + ": " + std::strerror(errno));
      // One byte more than fits, to tell a payload that is too long.
      const bool ok = ReadBounded(fd, maxPayload + 1, payload);
      const int readErrno = errno;
      ::close(fd);
      if (!ok) return Failure("cannot read " + options.text + ": " + std::strerror(readErrno));
      break;
    }
    case Options::Source::kStdin:
      if (!ReadBounded(STDIN_FILENO, maxPayload + 1, payload)) {
        return Failure(std::string("cannot read standard input: ") + std::strerror(errno));
      }
      break;
    case Options::Source::kAction: {
      const auto action = ArgumentText(options.text);
      const auto param1 = ArgumentText(options.param1.value_or(""));
      const auto param2 = ArgumentText(options.param2.value_or(""));
      if (!action || !param1 || !param2) {
        return UsageError("--action, --param1 and --param2 must be UTF-8");
      }
      try {
        payload = BuildRemoteCommandDocument(*action, *param1, *param2,
                                             [](std::u16string_view t) { return Utf16ToUtf8(t); });
      } catch (const EIllegalNodeName& e) {
        // The name is UTF-8 here, so it is shown as it is.
        return UsageError("Illegal character in node name \"" + e.Name() + "\"");
      }
      break;
    }
    case Options::Source::kNone:
      return kExitUsage;
  }

  if (payload.size() > maxPayload) {
    return UsageError("the payload is too long: a datagram holds at most " +
                      std::to_string(kMaxDatagram) + " bytes" +
                      (options.raw ? std::string() : ", the header included"));
  }
  if (!options.raw) {
    if (payload.empty()) return UsageError("the payload is empty (use --raw to send it anyway)");
    if (!Utf16LengthOfUtf8(
            std::span(reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size()))) {
      return UsageError("the payload is not well-formed UTF-8 (use --raw to send it anyway)");
    }
  }

  std::string datagram;
  if (!options.raw) {
    datagram += static_cast<char>(kRemoteDatagramMark);
    datagram += kRemoteDatagramHeader;
    datagram += static_cast<char>(kRemoteDatagramMark);
  }
  datagram += payload;

  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return Failure(std::string("cannot create a socket: ") + std::strerror(errno));
  const unsigned char loop = 1;
  if (::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) != 0 ||
      (via && ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &*via, sizeof *via) != 0)) {
    const std::string text = std::string("cannot set up the socket: ") + std::strerror(errno);
    ::close(fd);
    return Failure(text);
  }
  sockaddr_in destination{};
  destination.sin_family = AF_INET;
  destination.sin_port = htons(static_cast<std::uint16_t>(options.port));
  destination.sin_addr = *to;
  const ssize_t sent =
      ::sendto(fd, datagram.data(), datagram.size(), 0,
               reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
  const int sendErrno = errno;
  ::close(fd);
  if (sent < 0) {
    return Failure("cannot send to " + options.to + ":" + std::to_string(options.port) + ": " +
                   std::strerror(sendErrno));
  }
  if (static_cast<std::size_t>(sent) != datagram.size()) {
    return Failure("the datagram was sent cut short");
  }
  return kExitOk;
}

}  // namespace
}  // namespace ostrivane

int main(int argc, char** argv) {
  ostrivane::cli::g_toolName = "lvx-send";
  int exitCode = ostrivane::kExitOk;
  const auto options =
      ostrivane::ParseArguments(std::span(argv, static_cast<std::size_t>(argc)), exitCode);
  if (!options) return exitCode;
  return ostrivane::Run(*options);
}
