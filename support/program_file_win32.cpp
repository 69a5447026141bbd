#include "support/program_file_win32.h"

#include <windows.h>

namespace ostrivane {

std::wstring ProgramFileName() {
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0) return {};
    if (length < name.size()) {
      name.resize(length);
      return name;
    }
    // Cut short: try again with room to spare (long paths reach 32767).
    if (name.size() >= 32768) return {};
    name.resize(name.size() * 2);
  }
}

}  // namespace ostrivane
