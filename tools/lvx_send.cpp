// lvx-send: sends one remote datagram, as a sender on the network does.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "net/ipv4_address.h"
#include "net/remote_datagram.h"
#include "relay/remote_command.h"
#include "support/utf8.h"
#include "tools/lvx_send_platform.h"
#include "tools/tool_cli.h"
#include "tools/tool_options.h"

namespace ostrivane {
namespace {

using cli::Failure;
using cli::kExitOk;
using cli::kExitUsage;
using cli::UsageError;

// The largest UDP payload over IPv4.
constexpr std::size_t kMaxDatagram = 65507;

constexpr std::string_view kUsage = R"(Usage: lvx-send [options] PAYLOAD

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

constexpr cli::OptionSpec kOptions[] = {
    {"--text", true},   {"--file", true},      {"--stdin", false}, {"-", false},
    {"--action", true}, {"--param1", true},    {"--param2", true}, {"--to", true},
    {"--port", true},   {"--interface", true}, {"--raw", false},
};

struct Options {
  enum class Source { kNone, kText, kFile, kStdin, kAction };
  Source source = Source::kNone;
  std::string text;  // --text value, --file path or --action name
  std::optional<std::string> param1;
  std::optional<std::string> param2;
  std::string to = "224.0.0.1";
  std::uint16_t port = 19151;
  std::optional<std::string> interfaceAddress;
  bool raw = false;
};

// The options, or the exit code after a usage error or --help.
struct ParseResult {
  std::optional<Options> options;
  int exitCode = kExitOk;
};

ParseResult ParseArguments(std::span<const std::string> args) {
  const cli::ParsedArguments parsed = cli::ParseOptions(args, kOptions);
  Options options;
  const auto refused = [](const std::string& text) {
    return ParseResult{std::nullopt, UsageError(text)};
  };
  for (const cli::ParsedOption& option : parsed.options) {
    const std::string_view name = option.name;
    Options::Source source = Options::Source::kNone;
    if (name == "--text") {
      source = Options::Source::kText;
    } else if (name == "--file") {
      source = Options::Source::kFile;
    } else if (name == "--stdin" || name == "-") {
      source = Options::Source::kStdin;
    } else if (name == "--action") {
      source = Options::Source::kAction;
    } else if (name == "--param1") {
      options.param1 = option.value;
    } else if (name == "--param2") {
      options.param2 = option.value;
    } else if (name == "--to") {
      options.to = option.value;
    } else if (name == "--port") {
      const auto port = cli::ParseDecimal(option.value, 1, 65535);
      if (!port) return refused("--port needs a number from 1 to 65535");
      options.port = static_cast<std::uint16_t>(*port);
    } else if (name == "--interface") {
      options.interfaceAddress = option.value;
    } else if (name == "--raw") {
      options.raw = true;
    }
    if (source != Options::Source::kNone) {
      if (options.source != Options::Source::kNone) {
        return refused("give exactly one payload: --text, --file, --stdin or --action");
      }
      options.source = source;
      options.text = option.value;
    }
  }
  if (parsed.error) return refused(*parsed.error);
  if (parsed.help) {
    platform::WriteStandardOutput(kUsage);
    return {std::nullopt, kExitOk};
  }
  if (options.source == Options::Source::kNone) {
    return refused("no payload: give --text, --file, --stdin or --action");
  }
  if ((options.param1 || options.param2) && options.source != Options::Source::kAction) {
    return refused("--param1 and --param2 belong to --action");
  }
  if (options.raw && options.source == Options::Source::kAction) {
    return refused("--raw does not go with --action");
  }
  return {options, kExitOk};
}

std::optional<std::u16string> Utf8Text(const std::string& bytes) {
  return Utf8ToUtf16(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

int Run(const Options& options) {
  const auto to = ParseIPv4(options.to);
  if (!to) return UsageError("--to needs an IPv4 address, not '" + options.to + "'");
  std::optional<IPv4Address> via;
  if (options.interfaceAddress) {
    via = ParseIPv4(*options.interfaceAddress);
    if (!via) return UsageError("--interface needs an IPv4 address");
  }

  // What the encoder puts before the payload.
  const std::size_t headerSize = options.raw ? 0 : EncodeRemoteDatagram(u"").size();
  const std::size_t maxPayload = kMaxDatagram - headerSize;
  std::string payload;
  std::string error;
  switch (options.source) {
    case Options::Source::kText:
      payload = options.text;
      break;
    case Options::Source::kFile:
      // One byte more than fits, to tell a payload that is too long.
      if (!platform::ReadFileBounded(options.text, maxPayload + 1, payload, error)) {
        return Failure(error);
      }
      break;
    case Options::Source::kStdin:
      if (!platform::ReadStandardInputBounded(maxPayload + 1, payload, error)) {
        return Failure(error);
      }
      break;
    case Options::Source::kAction: {
      const auto action = Utf8Text(options.text);
      const auto param1 = Utf8Text(options.param1.value_or(""));
      const auto param2 = Utf8Text(options.param2.value_or(""));
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
  std::string datagram;
  if (options.raw) {
    datagram = payload;
  } else {
    if (payload.empty()) return UsageError("the payload is empty (use --raw to send it anyway)");
    const auto text = Utf8Text(payload);
    if (!text) {
      return UsageError("the payload is not well-formed UTF-8 (use --raw to send it anyway)");
    }
    const std::vector<std::uint8_t> encoded = EncodeRemoteDatagram(*text);
    datagram.assign(encoded.begin(), encoded.end());
  }

  if (const auto failure = platform::SendDatagram(datagram, *to, options.port, via)) {
    return Failure(*failure);
  }
  return kExitOk;
}

}  // namespace
}  // namespace ostrivane

int main(int argc, char** argv) {
  return ostrivane::cli::ToolMain("lvx-send", argc, argv, ostrivane::ParseArguments,
                                  ostrivane::Run);
}
