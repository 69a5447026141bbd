// What the companion tools share on their command line: exit codes and the
// way they complain.
#pragma once

#include <cstdio>
#include <string>

namespace ostrivane::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Set once at the start of main: the name the tool gives itself in messages.
inline const char* g_toolName = "lvx";

inline void Complain(const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", g_toolName, text.c_str());
}

inline int UsageError(const std::string& text) {
  Complain(text);
  std::fprintf(stderr, "Try '%s --help'.\n", g_toolName);
  return kExitUsage;
}

inline int Failure(const std::string& text) {
  Complain(text);
  return kExitFailure;
}

}  // namespace ostrivane::cli
