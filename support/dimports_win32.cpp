// Windows: the system loader behind the table, CompareStringW for the locale
// comparison and the screen's device context for the logical DPI.
#include <windows.h>

#include <string>

#include "support/dimports.h"
#include "support/dimports_platform.h"
#include "support/system_error.h"

namespace ostrivane::DImports {
namespace {

// The table's module names are ASCII.
std::wstring Widen(const char* text) {
  std::wstring wide;
  for (; *text != '\0'; ++text)
    wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*text)));
  return wide;
}

class Win32DynamicLibraries final : public IDynamicLibraries {
 public:
  ModuleHandle FindLoaded(const char* fileName) override {
    return ::GetModuleHandleW(Widen(fileName).c_str());
  }
  ModuleHandle Load(const char* fileName) override {
    return ::LoadLibraryW(Widen(fileName).c_str());
  }
  std::uint32_t SetErrorMode(std::uint32_t mode) override { return ::SetErrorMode(mode); }
  ProcAddress FindFunction(ModuleHandle module, const char* name) override {
    return reinterpret_cast<ProcAddress>(::GetProcAddress(static_cast<HMODULE>(module), name));
  }
  void Release(ModuleHandle module) override { ::FreeLibrary(static_cast<HMODULE>(module)); }
  bool IsExecutable() override {
    // The module that holds this code against the process's executable.
    HMODULE self = nullptr;
    static const int kAnchor = 0;
    if (!::GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&kAnchor), &self)) {
      return false;
    }
    return self == ::GetModuleHandleW(nullptr);
  }
};

}  // namespace

IDynamicLibraries& DefaultDynamicLibraries() {
  static Win32DynamicLibraries libraries;
  return libraries;
}

// The screen's own device context answers; a toolkit's source has no say.
void SetLogicalDpiSource(LogicalDpiSource) noexcept {}

namespace platform {

int CompareInUserLocale(LPCWSTR text1, LPCWSTR text2, bool ignoreCase) {
  const int result =
      ::CompareStringW(LOCALE_USER_DEFAULT, ignoreCase ? NORM_IGNORECASE : 0, text1, -1, text2, -1);
  if (result == 0) throw ESystemError(::GetLastError());
  return result;
}

void ScreenLogicalDpi(UINT& x, UINT& y) {
  HDC screen = ::GetDC(nullptr);
  x = static_cast<UINT>(::GetDeviceCaps(screen, LOGPIXELSX));
  y = static_cast<UINT>(::GetDeviceCaps(screen, LOGPIXELSY));
  ::ReleaseDC(nullptr, screen);
}

}  // namespace platform
}  // namespace ostrivane::DImports
