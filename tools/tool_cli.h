// What the companion tools share on their command line: exit codes and the
// way they complain.
#pragma once

#include <string>
#include <string_view>

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

}  // namespace ostrivane::cli
