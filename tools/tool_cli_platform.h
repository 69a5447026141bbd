// What the companion tools need from the system for their command line:
// the arguments and the standard output and error streams
// (tool_cli_posix.cpp, tool_cli_win32.cpp).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ostrivane::platform {

// Readies the standard streams for bytes (no line-end translation) and
// returns the command line's arguments as UTF-8, the program's name first.
std::vector<std::string> StartTool(int argc, char** argv);

// Writes UTF-8 text to standard output or standard error at once, without
// buffering it; a console shows it as text. False when the write failed.
bool WriteStandardOutput(std::string_view text);
bool WriteStandardError(std::string_view text);

}  // namespace ostrivane::platform
