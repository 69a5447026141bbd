// What lvx-firewall needs from the system besides the firewall itself
// (lvx_firewall_win32.cpp; the tool is made for Windows only).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ostrivane::platform {

// The full path of the relay's program beside this tool (Ostrivane.exe).
std::u16string ProgramBesideTool();

// `path` (UTF-8, as given) as a full path, or nullopt when it is not one.
std::optional<std::u16string> FullPath(const std::string& path);

// Whether this process runs with administrator rights (elevated).
bool RunsAsAdministrator();

// How a run of this tool with administrator rights ended.
enum class TElevatedEnd : std::uint8_t {
  Ended,    // it ran; `exitCode` is its exit status
  Refused,  // the user refused the elevation prompt
  Failed,   // it could not be started; `error` says why
};

struct ElevatedRun {
  TElevatedEnd end = TElevatedEnd::Failed;
  int exitCode = 0;
  std::string error;
};

// Runs this tool's own program again with `args` (UTF-8, without the
// program's name) and administrator rights, which brings up the elevation
// prompt, and waits for it to end. Its window, if any, stays hidden.
ElevatedRun RunElevated(const std::vector<std::string>& args);

}  // namespace ostrivane::platform
