// lvx-slot-monitor: stands in for the presentation application. Creates the
// mailslot that the relay writes to and prints every message.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "relay/mailslot.h"
#include "relay/mailslot_endpoint.h"
#include "support/cp1252.h"
#include "support/utf8.h"
#include "tools/lvx_slot_monitor_platform.h"
#include "tools/tool_cli.h"
#include "tools/tool_options.h"

namespace ostrivane {
namespace {

using cli::Complain;
using cli::Failure;
using cli::kExitFailure;
using cli::kExitOk;
using cli::UsageError;
using platform::WaitOutcome;

// Longer messages are counted in full but printed cut to this length.
constexpr std::size_t kMaxPrinted = std::size_t{1} << 20;

constexpr std::string_view kUsageStart = R"(Usage: lvx-slot-monitor [options]

Stands in for the presentation application: creates the mailslot endpoint for
a slot and prints every message written to it, until it is stopped.

)";

constexpr std::string_view kUsageMiddle = R"(
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

)";

constexpr std::string_view kUsageEnd =
    R"(Exit status: 0 ended normally, 1 runtime failure (the endpoint cannot be
created, is taken by a live endpoint, ...), 2 usage error.
)";

std::string Usage() {
  const platform::SlotMonitorHelp help = platform::SlotMonitorHelpTexts();
  return std::string(kUsageStart) + std::string(help.place) + std::string(kUsageMiddle) +
         std::string(help.stop) + std::string(kUsageEnd);
}

constexpr cli::OptionSpec kOptions[] = {
    {"--slot", true},
    {"--hex", false},
    {"--count", true},
    {"--read-delay-ms", true},
};

struct Options {
  std::string slot = "Lyravox\\Messages";
  bool hex = false;
  std::optional<unsigned long> count;
  unsigned long readDelayMs = 0;
};

// The options, or the exit code after a usage error or --help.
struct ParseResult {
  std::optional<Options> options;
  int exitCode = kExitOk;
};

ParseResult ParseArguments(std::span<const std::string> args) {
  const cli::ParsedArguments parsed = cli::ParseOptions(args, kOptions);
  Options options;
  for (const cli::ParsedOption& option : parsed.options) {
    if (option.name == "--hex") {
      options.hex = true;
    } else if (option.name == "--slot") {
      options.slot = option.value;
    } else if (option.name == "--count") {
      options.count = cli::ParseDecimal(option.value, 1, 999999999);
      if (!options.count) {
        return {std::nullopt, UsageError("--count needs a whole number of at least 1")};
      }
    } else {
      const auto delay = cli::ParseDecimal(option.value, 0, 3600000);
      if (!delay) {
        return {std::nullopt, UsageError("--read-delay-ms needs a whole number of milliseconds")};
      }
      options.readDelayMs = *delay;
    }
  }
  if (parsed.error) return {std::nullopt, UsageError(*parsed.error)};
  if (parsed.help) {
    platform::WriteStandardOutput(Usage());
    return {std::nullopt, kExitOk};
  }
  return {options, kExitOk};
}

// One output line's text: code page 1252 as UTF-8, escaped (see the usage).
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

int Run(const Options& options) {
  const std::optional<std::u16string> slot = Utf8ToUtf16(
      std::span(reinterpret_cast<const std::uint8_t*>(options.slot.data()), options.slot.size()));
  if (!slot) return UsageError("the slot name is not UTF-8");
  if (!IsPlainMailSlotName(*slot)) {
    return UsageError("invalid slot name '" + options.slot +
                      "' (empty, or with a '.' or '..' part, or a zero character)");
  }
  platform::SlotServerOpening opening =
      platform::OpenSlotServer(std::u16string(kMailSlotPrefix) + *slot);
  if (!opening.server) return Failure(opening.error);
  platform::CatchStopRequests();
  platform::WriteStandardError("lvx-slot-monitor: listening at " + opening.location + "\n");

  std::vector<std::uint8_t> bytes;
  for (unsigned long received = 0; !options.count || received < *options.count; ++received) {
    if (options.readDelayMs > 0) {
      const WaitOutcome paused = platform::Pause(options.readDelayMs);
      if (paused == WaitOutcome::kStopped) break;
      if (paused == WaitOutcome::kFailed) return kExitFailure;
    }
    std::size_t length = 0;
    std::string error;
    const WaitOutcome read =
        platform::ReadSlotMessage(*opening.server, kMaxPrinted, bytes, length, error);
    if (read == WaitOutcome::kStopped) break;
    if (read == WaitOutcome::kFailed) return Failure(error);
    if (bytes.size() < length) {
      Complain("message of " + std::to_string(length) + " bytes printed cut to " +
               std::to_string(bytes.size()));
    }
    const std::string text = options.hex ? HexText(bytes) : EscapedText(bytes);
    if (!platform::WriteStandardOutput(std::to_string(length) + " " + text + "\n")) {
      return Failure("cannot write to standard output");
    }
  }
  return kExitOk;
}

}  // namespace
}  // namespace ostrivane

int main(int argc, char** argv) {
  return ostrivane::cli::ToolMain("lvx-slot-monitor", argc, argv, ostrivane::ParseArguments, ostrivane::Run);
}
