// The program's path and the process's rights, for lvx-firewall.
#include <windows.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "support/utf8.h"
#include "tools/lvx_firewall_platform.h"

namespace ostrivane::platform {

std::u16string ProgramBesideTool() {
  std::wstring path(MAX_PATH, L'\0');
  while (true) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return u"Ostrivane.exe";
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
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

}  // namespace ostrivane::platform
