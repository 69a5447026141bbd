// The command line of the companion tools: long options "--name", each
// either a flag or taking one value, given as the next argument or after "="
// ("--port 19151", "--port=19151"), and "--help". Plus the value forms the
// tools share: decimal numbers and IPv4 addresses.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ostrivane::cli {

struct OptionSpec {
  // As it is written: "--text", or a bare word such as "-".
  std::string_view name;
  bool takesValue = false;
};

struct ParsedOption {
  std::string_view name;  // the name of its OptionSpec
  std::string value;      // empty for a flag
};

struct ParsedArguments {
  // The options in the order given, up to where the parsing stopped.
  std::vector<ParsedOption> options;
  // "--help" stopped the parsing; what follows it is not looked at.
  bool help = false;
  // A usage error stopped the parsing: "unknown argument 'X'", "option X
  // needs a value" or "option X takes no value".
  std::optional<std::string> error;
};

// Parses `args` (the program's name left out) against `specs`. Only an
// argument starting with "--" is split at its first "="; a value taken from
// the next argument is taken whatever it looks like.
ParsedArguments ParseOptions(std::span<const std::string> args, std::span<const OptionSpec> specs);

// A decimal number in [min, max]: digits only, nothing else.
std::optional<unsigned long> ParseDecimal(std::string_view text, unsigned long min,
                                          unsigned long max);

// An IPv4 address in dotted-decimal form "a.b.c.d": four numbers from 0 to
// 255 without leading zeros. The bytes in network order.
std::optional<std::array<std::uint8_t, 4>> ParseIPv4(std::string_view text);

}  // namespace ostrivane::cli
