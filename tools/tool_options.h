// The command line of the companion tools: long options "--name", each
// either a flag or taking one value, given as the next argument or after "="
// ("--port 19151", "--port=19151"), and "--help". Plus the decimal numbers
// the tools take (IPv4 addresses are read by net/ipv4_address.h).
#pragma once

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

}  // namespace ostrivane::cli
