// What lvx-firewall needs from the system besides the firewall itself
// (lvx_firewall_win32.cpp; the tool is made for Windows only).
#pragma once

#include <optional>
#include <string>

namespace ostrivane::platform {

// The full path of the relay's program beside this tool (Ostrivane.exe).
std::u16string ProgramBesideTool();

// `path` (UTF-8, as given) as a full path, or nullopt when it is not one.
std::optional<std::u16string> FullPath(const std::string& path);

// Whether this process runs with administrator rights (elevated).
bool RunsAsAdministrator();

}  // namespace ostrivane::platform
