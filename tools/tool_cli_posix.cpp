// The tools' command line on POSIX systems: the arguments are bytes, taken
// as they are; output goes through stdio, flushed at once.
#include <cstdio>

#include "tools/tool_cli_platform.h"

namespace ostrivane::platform {
namespace {

bool Write(std::FILE* stream, std::string_view text) {
  return std::fwrite(text.data(), 1, text.size(), stream) == text.size() &&
         std::fflush(stream) == 0;
}

}  // namespace

std::vector<std::string> StartTool(int argc, char** argv) {
  return {argv, argv + argc};
}

bool WriteStandardOutput(std::string_view text) { return Write(stdout, text); }

bool WriteStandardError(std::string_view text) { return Write(stderr, text); }

}  // namespace ostrivane::platform
