// Windows: the system loader behind the table, CompareStringW for the locale
// comparison and the screen's device context for the logical DPI.
#include <windows.h>
// After windows.h: the item identifier lists, the notification state and the
// DPI kinds.
#include <shellapi.h>
#include <shellscalingapi.h>
#include <shtypes.h>

#include <string>
#include <type_traits>

#include "support/dimports_platform.h"
#include "support/system_error.h"

namespace ostrivane::DImports {
namespace {

// The table's types stand for Windows' own: the system's functions are
// called through entries declared with them.
template <typename Ours, typename Windows>
constexpr bool kSameShape =
    sizeof(Ours) == sizeof(Windows) &&
    alignof(Ours) == alignof(Windows) && std::is_signed_v<Ours> == std::is_signed_v<Windows>;
static_assert(kSameShape<BOOL, ::BOOL>);
static_assert(kSameShape<WORD, ::WORD>);
static_assert(kSameShape<DWORD, ::DWORD>);
static_assert(kSameShape<UINT, ::UINT>);
static_assert(kSameShape<LANGID, ::LANGID>);
static_assert(kSameShape<HRESULT, ::HRESULT>);
static_assert(kSameShape<EXECUTION_STATE, ::EXECUTION_STATE>);
static_assert(kSameShape<std::remove_pointer_t<LPCWSTR>, ::WCHAR>);
static_assert(kSameShape<GUID, ::GUID>);
static_assert(kSameShape<LPOVERLAPPED, ::LPOVERLAPPED>);
static_assert(kSameShape<HANDLE, ::HANDLE> && kSameShape<HDC, ::HDC> && kSameShape<HWND, ::HWND> &&
              kSameShape<HMONITOR, ::HMONITOR> && kSameShape<PIDLIST_ABSOLUTE, ::PIDLIST_ABSOLUTE>);
static_assert(kSameShape<QUERY_USER_NOTIFICATION_STATE, ::QUERY_USER_NOTIFICATION_STATE> &&
              static_cast<int>(QUNS_NOT_PRESENT) == ::QUNS_NOT_PRESENT &&
              static_cast<int>(QUNS_QUIET_TIME) == ::QUNS_QUIET_TIME);
static_assert(kSameShape<MONITOR_DPI_TYPE, ::MONITOR_DPI_TYPE> &&
              static_cast<int>(MDT_EFFECTIVE_DPI) == ::MDT_EFFECTIVE_DPI &&
              static_cast<int>(MDT_RAW_DPI) == ::MDT_RAW_DPI);

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
            reinterpret_cast<::LPCWSTR>(&kAnchor), &self)) {
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

}  // namespace ostrivane::DImports

namespace ostrivane::platform {

int CompareInUserLocale(const char16_t* text1, const char16_t* text2, bool ignoreCase) {
  // char16_t and wchar_t are both UTF-16 code units on Windows.
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  const int result = ::CompareStringW(LOCALE_USER_DEFAULT, ignoreCase ? NORM_IGNORECASE : 0,
                                      reinterpret_cast<const wchar_t*>(text1), -1,
                                      reinterpret_cast<const wchar_t*>(text2), -1);
  if (result == 0) throw ESystemError(::GetLastError());
  return result;
}

// The screen's own device context answers; a toolkit's source has no say.
void ScreenLogicalDpi(DImports::LogicalDpiSource /*toolkit*/, unsigned& x, unsigned& y) {
  HDC screen = ::GetDC(nullptr);
  x = static_cast<unsigned>(::GetDeviceCaps(screen, LOGPIXELSX));
  y = static_cast<unsigned>(::GetDeviceCaps(screen, LOGPIXELSY));
  ::ReleaseDC(nullptr, screen);
}

}  // namespace ostrivane::platform
