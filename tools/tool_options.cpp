#include "tools/tool_options.h"

#include <algorithm>

namespace ostrivane::cli {

ParsedArguments ParseOptions(std::span<const std::string> args, std::span<const OptionSpec> specs) {
  ParsedArguments parsed;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    std::optional<std::string_view> inlineValue;
    if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
      inlineValue = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
    }
    if (arg == "--help") {
      if (inlineValue) {
        parsed.error = "option --help takes no value";
      } else {
        parsed.help = true;
      }
      return parsed;
    }
    const auto known = std::find_if(specs.begin(), specs.end(),
                                    [&](const OptionSpec& s) { return s.name == arg; });
    if (known == specs.end()) {
      parsed.error = "unknown argument '" + std::string(arg) + "'";
      return parsed;
    }
    if (!known->takesValue) {
      if (inlineValue) {
        parsed.error = "option " + std::string(arg) + " takes no value";
        return parsed;
      }
      parsed.options.push_back({known->name, {}});
      continue;
    }
    if (inlineValue) {
      parsed.options.push_back({known->name, std::string(*inlineValue)});
    } else if (i + 1 < args.size()) {
      parsed.options.push_back({known->name, args[++i]});
    } else {
      parsed.error = "option " + std::string(arg) + " needs a value";
      return parsed;
    }
  }
  return parsed;
}

std::optional<unsigned long> ParseDecimal(std::string_view text, unsigned long min,
                                          unsigned long max) {
  if (text.empty()) return std::nullopt;
  unsigned long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<unsigned long>(c - '0');
    // Stop before the value can pass `max`, so nothing overflows.
    if (digit > max || value > (max - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  if (value < min) return std::nullopt;
  return value;
}

}  // namespace ostrivane::cli
