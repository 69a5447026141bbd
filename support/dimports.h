// DImports: system functions that some Windows versions lack, reached through
// process-wide entries that bind on their first call, to the system's
// function when the system has it and to a fallback of ours otherwise.
//
//   LANGID id = DImports::GetUserDefaultUILanguage();
//
// Callers never ask whether a function exists; a fallback answers with a
// neutral result. Where the platform has none of these functions (anything but
// Windows), every entry binds to its fallback.
#pragma once

#include <atomic>
#include <cstdint>

// The system's calling convention for its functions (it differs from the
// default only on 32-bit Windows).
#if defined(_WIN32) && !defined(_WIN64)
#define OSTRIVANE_WINAPI __stdcall
#else
#define OSTRIVANE_WINAPI
#endif

namespace ostrivane::DImports {

// Types of the same width, signedness and layout as Windows' types of the
// same name, for the parameter lists below (dimports_win32.cpp checks them
// against Windows' own). Texts are UTF-16, as on Windows.
using BOOL = std::int32_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using LANGID = std::uint16_t;
using HRESULT = std::int32_t;
using EXECUTION_STATE = DWORD;
using LPWORD = WORD*;
using LPDWORD = DWORD*;
using LPCSTR = const char*;
using LPCWSTR = const char16_t*;
using HANDLE = void*;
// Handles of a type of their own each, declared here whatever else a file
// includes.
struct DeviceContextHandle;
struct WindowHandle;
struct MonitorHandle;
using HDC = DeviceContextHandle*;
using HWND = WindowHandle*;
using HMONITOR = MonitorHandle*;
struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};
struct IBindCtx;
struct ITEMIDLIST;
// Windows' OVERLAPPED, only ever passed on by address.
struct OVERLAPPED;
using LPOVERLAPPED = OVERLAPPED*;
using PIDLIST_ABSOLUTE = ITEMIDLIST*;
using PIDLIST_RELATIVE = ITEMIDLIST*;
using PUIDLIST_RELATIVE = ITEMIDLIST*;
using PCUIDLIST_RELATIVE = const ITEMIDLIST*;
enum QUERY_USER_NOTIFICATION_STATE {
  QUNS_NOT_PRESENT = 1,
  QUNS_BUSY = 2,
  QUNS_RUNNING_D3D_FULL_SCREEN = 3,
  QUNS_PRESENTATION_MODE = 4,
  QUNS_ACCEPTS_NOTIFICATIONS = 5,
  QUNS_QUIET_TIME = 6,
  QUNS_APP = 7
};
enum MONITOR_DPI_TYPE { MDT_EFFECTIVE_DPI = 0, MDT_ANGULAR_DPI = 1, MDT_RAW_DPI = 2 };

// One entry of the table: a function pointer of the system function's type,
// holding the entry's loader (armed), the system function or the fallback.
// The target is one word, loaded and stored whole, so threads that call an
// unbound entry at once both bind it to the same target without a lock.
template <typename R, typename... Args>
class Entry {
 public:
  using Function = R(OSTRIVANE_WINAPI*)(Args...);

  constexpr explicit Entry(Function loader) noexcept : target_(loader) {}
  Entry(const Entry&) = delete;
  Entry& operator=(const Entry&) = delete;

  R operator()(Args... args) const { return target_.load(std::memory_order_acquire)(args...); }

  // The table's own: arming and binding.
  void Store(Function target) noexcept { target_.store(target, std::memory_order_release); }
  [[nodiscard]] Function Target() const noexcept { return target_.load(std::memory_order_acquire); }

 private:
  std::atomic<Function> target_;
};

// The entries, in the order in which they are armed. CancelIoEx (Windows
// Vista on) is the mailslot writer's, to give up a write that waits too long.
extern Entry<LANGID> GetUserDefaultUILanguage;
extern Entry<DWORD, HDC, LPCSTR, int, LPWORD, DWORD> GetGlyphIndicesA;
extern Entry<DWORD, HDC, LPCWSTR, int, LPWORD, DWORD> GetGlyphIndicesW;
extern Entry<EXECUTION_STATE, EXECUTION_STATE> SetThreadExecutionState;
extern Entry<BOOL, HWND, HDC, UINT> PrintWindow;
extern Entry<int, LPCWSTR, LPCWSTR> StrCmpLogicalW;
extern Entry<HRESULT, LPCWSTR, IBindCtx*, const GUID&, void**> SHCreateItemFromParsingName;
extern Entry<HANDLE, LPCWSTR, LPDWORD> AvSetMmThreadCharacteristicsW;
extern Entry<BOOL, HANDLE> AvRevertMmThreadCharacteristics;
extern Entry<PIDLIST_ABSOLUTE, LPCWSTR> ILCreateFromPathW;
extern Entry<PIDLIST_RELATIVE, PCUIDLIST_RELATIVE> ILClone;
extern Entry<BOOL, PUIDLIST_RELATIVE> ILRemoveLastID;
extern Entry<void, PIDLIST_RELATIVE> ILFree;
extern Entry<int, LPCWSTR, int, LPCWSTR, int, BOOL> CompareStringOrdinal;
extern Entry<HRESULT, QUERY_USER_NOTIFICATION_STATE*> SHQueryUserNotificationState;
extern Entry<HRESULT, HMONITOR, MONITOR_DPI_TYPE, UINT*, UINT*> GetDpiForMonitor;
extern Entry<BOOL, HANDLE, LPOVERLAPPED> CancelIoEx;

inline constexpr HRESULT kENotImpl = static_cast<HRESULT>(0x80004001U);
inline constexpr DWORD kGdiError = 0xFFFFFFFFU;

// The fallbacks, with the same parameter lists and results as the entries.
namespace Fallback {
LANGID OSTRIVANE_WINAPI GetUserDefaultUILanguage();
DWORD OSTRIVANE_WINAPI GetGlyphIndicesA(HDC dc, LPCSTR text, int count, LPWORD indices,
                                        DWORD flags);
DWORD OSTRIVANE_WINAPI GetGlyphIndicesW(HDC dc, LPCWSTR text, int count, LPWORD indices,
                                        DWORD flags);
EXECUTION_STATE OSTRIVANE_WINAPI SetThreadExecutionState(EXECUTION_STATE flags);
BOOL OSTRIVANE_WINAPI PrintWindow(HWND window, HDC dc, UINT flags);
// Locale comparison of the whole texts, -1, 0 or 1 (runs of digits compare as
// text). Throws when the comparison reports an error.
int OSTRIVANE_WINAPI StrCmpLogicalW(LPCWSTR text1, LPCWSTR text2);
HRESULT OSTRIVANE_WINAPI SHCreateItemFromParsingName(LPCWSTR path, IBindCtx* context,
                                                     const GUID& interfaceId, void** item);
HANDLE OSTRIVANE_WINAPI AvSetMmThreadCharacteristicsW(LPCWSTR taskName, LPDWORD taskIndex);
BOOL OSTRIVANE_WINAPI AvRevertMmThreadCharacteristics(HANDLE handle);
PIDLIST_ABSOLUTE OSTRIVANE_WINAPI ILCreateFromPathW(LPCWSTR path);
PIDLIST_RELATIVE OSTRIVANE_WINAPI ILClone(PCUIDLIST_RELATIVE list);
BOOL OSTRIVANE_WINAPI ILRemoveLastID(PUIDLIST_RELATIVE list);
void OSTRIVANE_WINAPI ILFree(PIDLIST_RELATIVE list);
// Locale comparison of the texts up to their NULs (the lengths are not used),
// case-insensitive when `ignoreCase` is set: 1 (less), 2 (equal) or 3
// (greater). Throws when the comparison reports an error.
int OSTRIVANE_WINAPI CompareStringOrdinal(LPCWSTR text1, int length1, LPCWSTR text2, int length2,
                                          BOOL ignoreCase);
HRESULT OSTRIVANE_WINAPI SHQueryUserNotificationState(QUERY_USER_NOTIFICATION_STATE* state);
// The screen's logical pixels per inch for both axes; S_OK.
HRESULT OSTRIVANE_WINAPI GetDpiForMonitor(HMONITOR monitor, MONITOR_DPI_TYPE kind, UINT* x,
                                          UINT* y);
// Cancels nothing and returns 0 (FALSE); the caller falls back to CancelIo,
// which cancels what the calling thread started on the handle.
BOOL OSTRIVANE_WINAPI CancelIoEx(HANDLE file, LPOVERLAPPED overlapped);
}  // namespace Fallback

// Where the logical DPI comes from outside Windows: the GUI toolkit sets a
// source; it answers false when it has no screen. Without a source, or when it
// answers false, the fallback reports 96 for both axes. Windows asks the
// screen itself and ignores the source.
using LogicalDpiSource = bool (*)(unsigned& x, unsigned& y);
void SetLogicalDpiSource(LogicalDpiSource source) noexcept;

// What the table loads with: a module's handle and a function's address. The
// loader itself, IDynamicLibraries, is in support/dimports_platform.h.
using ModuleHandle = void*;
using ProcAddress = void (*)();
class IDynamicLibraries;

// Error mode of the guarded load: no message box for a missing file.
inline constexpr std::uint32_t kSemNoOpenFileErrorBox = 0x8000;

// Loads `fileName` with the error mode kSemNoOpenFileErrorBox, the previous
// mode restored afterwards; the floating-point environment is kept across the
// load and pending floating-point exceptions are cleared.
ModuleHandle GuardedLoad(IDynamicLibraries& libraries, const char* fileName);

}  // namespace ostrivane::DImports

namespace ostrivane {

// Module start-up: arms every entry and empties the module handle slots; the
// entries load through `libraries` from then on, or through the system's
// loader (DImports::DefaultDynamicLibraries()) when none is given. Before it
// runs, the entries are armed already and use the system's loader.
void InitializeDImports();
void InitializeDImports(DImports::IDynamicLibraries& libraries);

// Module shutdown: when this code is part of the executable, releases the
// modules that the table loaded itself (shell32 and Shcore when their slots
// hold a handle, shlwapi and avrt when the look-up did not find them). The
// entries stay bound.
void FinalizeDImports();

}  // namespace ostrivane
