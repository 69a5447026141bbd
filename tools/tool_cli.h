// What the companion tools share on their command line: exit codes and the
// way they complain.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/tool_cli_platform.h"

namespace ostrivane::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Set once at the start of main: the name the tool gives itself in messages.
inline const char* g_toolName = "lvx";

inline void Complain(const std::string& text) {
  platform::WriteStandardError(std::string(g_toolName) + ": " + text + "\n");
}

inline int UsageError(const std::string& text) {
  Complain(text);
  platform::WriteStandardError("Try '" + std::string(g_toolName) + " --help'.\n");
  return kExitUsage;
}

inline int Failure(const std::string& text) {
  Complain(text);
  return kExitFailure;
}

// The body of a tool's main: names the tool, reads its arguments in the
// platform's way, parses them (`parse` answers an object with `options`, an
// optional, and `exitCode` for when there are none) and runs it.
template <typename Parse, typename Run>
int ToolMain(const char* name, int argc, char** argv, Parse parse, Run run) {
  g_toolName = name;
  const std::vector<std::string> args = platform::StartTool(argc, argv);
  const auto parsed = parse(std::span<const std::string>(args).subspan(args.empty() ? 0 : 1));
  if (!parsed.options) return parsed.exitCode;
  return run(*parsed.options);
}

}  // namespace ostrivane::cli
