// The program's path and the process's rights, for lvx-firewall, and its
// way to get those rights: itself again, through the elevation prompt.
#include <windows.h>
// After <windows.h>, which it needs.
#include <shellapi.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "support/program_file_win32.h"
#include "support/utf8.h"
#include "tools/lvx_firewall_platform.h"
#include "tools/lvx_firewall_run.h"

namespace ostrivane::platform {
namespace {

std::wstring Wide(const std::string& text) {
  const std::optional<std::u16string> wide =
      Utf8ToUtf16(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  if (!wide) return {};
  return {wide->begin(), wide->end()};
}

std::string ErrorText(DWORD error) {
  return "Windows error " + std::to_string(static_cast<unsigned long>(error));
}

}  // namespace

std::u16string ProgramBesideTool() {
  std::wstring path = ProgramFileName();
  if (path.empty()) return u"Ostrivane.exe";
  path = path.substr(0, path.find_last_of(L'\\') + 1) + L"Ostrivane.exe";
  return {path.begin(), path.end()};
}

std::optional<std::u16string> FullPath(const std::string& path) {
  const std::optional<std::u16string> wide =
      Utf8ToUtf16(std::span(reinterpret_cast<const std::uint8_t*>(path.data()), path.size()));
  if (!wide || wide->empty() || wide->find(u'\0') != std::u16string::npos) return std::nullopt;
  const std::wstring given(wide->begin(), wide->end());
  const DWORD needed = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return std::nullopt;
  std::wstring full(needed, L'\0');
  const DWORD n = GetFullPathNameW(given.c_str(), needed, full.data(), nullptr);
  if (n == 0 || n >= needed) return std::nullopt;
  full.resize(n);
  return std::u16string(full.begin(), full.end());
}

bool RunsAsAdministrator() {
  SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS,
                                0, 0, 0, 0, 0, 0, &administrators)) {
    return false;
  }
  // Of a user's token that is not elevated, the group is there for denying
  // only, and this answers false.
  BOOL member = FALSE;
  if (!CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
  FreeSid(administrators);
  return member != FALSE;
}

ElevatedRun RunElevated(const std::vector<std::string>& args) {
  ElevatedRun run;
  const std::wstring self = ProgramFileName();
  if (self.empty()) {
    run.error = "this tool's own path is not known";
    return run;
  }
  std::string line;
  for (const std::string& arg : args) {
    if (!line.empty()) line += ' ';
    line += firewall_tool::QuoteArgument(arg);
  }
  const std::wstring parameters = Wide(line);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  // No message box of the shell's own on failure: the tool says it.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"runas";
  info.lpFile = self.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_HIDE;
  // Returns once the user has answered the elevation prompt.
  if (!ShellExecuteExW(&info)) {
    const DWORD error = GetLastError();
    if (error == ERROR_CANCELLED) {
      run.end = TElevatedEnd::Refused;
    } else {
      run.error = ErrorText(error);
    }
    return run;
  }
  if (info.hProcess == nullptr) {
    run.error = "the elevated run cannot be watched";
    return run;
  }
  DWORD code = 0;
  const bool ended = WaitForSingleObject(info.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                     GetExitCodeProcess(info.hProcess, &code) != FALSE;
  const DWORD error = GetLastError();
  CloseHandle(info.hProcess);
  if (!ended) {
    run.error = ErrorText(error);
    return run;
  }
  run.end = TElevatedEnd::Ended;
  run.exitCode = static_cast<int>(code);
  return run;
}

}  // namespace ostrivane::platform
