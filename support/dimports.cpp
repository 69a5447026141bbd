// The optional-function table: module handle slots, the loaders that bind
// each entry on its first call, the guarded load, and the fallbacks that need
// nothing from the platform.
#include "support/dimports.h"

#include <array>
#include <cfenv>
#include <cstddef>
#include <tuple>
#include <type_traits>

#include "support/dimports_platform.h"

namespace ostrivane::DImports {
namespace {

enum class Module : std::size_t { kKernel32, kUser32, kGdi32, kShlwapi, kShell32, kAvrt, kShcore };
inline constexpr std::size_t kModuleCount = 7;

constexpr std::array<const char*, kModuleCount> kModuleFiles{
    "kernel32.dll", "user32.dll", "gdi32.dll",  "shlwapi.dll",
    "shell32.dll",  "avrt.dll",   "Shcore.dll",
};

// How an entry obtains its module's handle.
enum class HandleRule {
  kLookUp,              // among the loaded modules only
  kLookUpOrLoad,        // looked up; loaded when not found
  kLoadIfEmpty,         // plain load when the slot is empty
  kGuardedLoadIfEmpty,  // guarded load when the slot is empty
};

struct Row {
  const char* name;
  Module module;
  HandleRule rule;
};

constexpr std::array<Row, 17> kRows{{
    {"GetUserDefaultUILanguage", Module::kKernel32, HandleRule::kLookUp},
    {"GetGlyphIndicesA", Module::kGdi32, HandleRule::kLookUpOrLoad},
    {"GetGlyphIndicesW", Module::kGdi32, HandleRule::kLookUpOrLoad},
    {"SetThreadExecutionState", Module::kKernel32, HandleRule::kLookUp},
    {"PrintWindow", Module::kUser32, HandleRule::kLookUpOrLoad},
    {"StrCmpLogicalW", Module::kShlwapi, HandleRule::kLookUpOrLoad},
    {"SHCreateItemFromParsingName", Module::kShell32, HandleRule::kLoadIfEmpty},
    {"AvSetMmThreadCharacteristicsW", Module::kAvrt, HandleRule::kLookUpOrLoad},
    {"AvRevertMmThreadCharacteristics", Module::kAvrt, HandleRule::kLookUpOrLoad},
    {"ILCreateFromPathW", Module::kShell32, HandleRule::kLoadIfEmpty},
    {"ILClone", Module::kShell32, HandleRule::kLoadIfEmpty},
    {"ILRemoveLastID", Module::kShell32, HandleRule::kLoadIfEmpty},
    {"ILFree", Module::kShell32, HandleRule::kLoadIfEmpty},
    {"CompareStringOrdinal", Module::kKernel32, HandleRule::kLookUp},
    {"SHQueryUserNotificationState", Module::kShell32, HandleRule::kGuardedLoadIfEmpty},
    {"GetDpiForMonitor", Module::kShcore, HandleRule::kGuardedLoadIfEmpty},
    {"CancelIoEx", Module::kKernel32, HandleRule::kLookUp},
}};

// One module's slot. `loadedByTable` records that a look-up-or-load entry
// had to load the module itself.
struct Slot {
  std::atomic<ModuleHandle> handle{nullptr};
  std::atomic<bool> loadedByTable{false};
};

static_assert(std::atomic<ModuleHandle>::is_always_lock_free);
static_assert(sizeof(Entry<LANGID>) == sizeof(void*) &&
                  std::atomic<Entry<LANGID>::Function>::is_always_lock_free,
              "an entry is one word, written whole");

constinit std::array<Slot, kModuleCount> gSlots{};
constinit std::atomic<IDynamicLibraries*> gLibraries{nullptr};
constinit std::atomic<LogicalDpiSource> gDpiSource{nullptr};

IDynamicLibraries& Libraries() {
  IDynamicLibraries* libraries = gLibraries.load(std::memory_order_acquire);
  return libraries != nullptr ? *libraries : DefaultDynamicLibraries();
}

Slot& SlotOf(Module module) { return gSlots[static_cast<std::size_t>(module)]; }
const char* FileOf(Module module) { return kModuleFiles[static_cast<std::size_t>(module)]; }

// Steps 1 and 2 of a first call: the module handle by the row's rule, then
// the function by its name; null when either is missing.
ProcAddress Resolve(const Row& row) {
  IDynamicLibraries& libraries = Libraries();
  Slot& slot = SlotOf(row.module);
  const char* file = FileOf(row.module);
  ModuleHandle handle = nullptr;
  switch (row.rule) {
    case HandleRule::kLookUp:
      handle = libraries.FindLoaded(file);
      slot.handle.store(handle, std::memory_order_release);
      break;
    case HandleRule::kLookUpOrLoad:
      handle = libraries.FindLoaded(file);
      if (handle == nullptr) {
        handle = libraries.Load(file);
        if (handle != nullptr) slot.loadedByTable.store(true, std::memory_order_release);
      }
      slot.handle.store(handle, std::memory_order_release);
      break;
    case HandleRule::kLoadIfEmpty:
    case HandleRule::kGuardedLoadIfEmpty:
      handle = slot.handle.load(std::memory_order_acquire);
      if (handle == nullptr) {
        handle = row.rule == HandleRule::kLoadIfEmpty ? libraries.Load(file)
                                                      : GuardedLoad(libraries, file);
        slot.handle.store(handle, std::memory_order_release);
      }
      break;
  }
  return handle != nullptr ? libraries.FindFunction(handle, row.name) : nullptr;
}

// The loader of one entry (row `index` of the table) and its arming.
template <typename E, E& entry, std::size_t index, typename E::Function fallback>
struct Binding;

template <typename R, typename... Args, Entry<R, Args...>& entry, std::size_t index,
          typename Entry<R, Args...>::Function fallback>
struct Binding<Entry<R, Args...>, entry, index, fallback> {
  using Function = typename Entry<R, Args...>::Function;

  static R OSTRIVANE_WINAPI Load(Args... args) {
    Function target = fallback;
    if (const ProcAddress found = Resolve(kRows[index])) {
      // The system's function takes and returns the entry's types (Windows'
      // own, in types of the same shape); the generic pointer is only its
      // carrier.
      target = reinterpret_cast<Function>(found);
    }
    entry.Store(target);
    return target(args...);
  }

  static void Arm() noexcept { entry.Store(&Load); }
};

#define OSTRIVANE_ROW(index, name) \
  Binding<decltype(DImports::name), DImports::name, index, &Fallback::name>

using Rows = std::tuple<
    OSTRIVANE_ROW(0, GetUserDefaultUILanguage), OSTRIVANE_ROW(1, GetGlyphIndicesA),
    OSTRIVANE_ROW(2, GetGlyphIndicesW), OSTRIVANE_ROW(3, SetThreadExecutionState),
    OSTRIVANE_ROW(4, PrintWindow), OSTRIVANE_ROW(5, StrCmpLogicalW),
    OSTRIVANE_ROW(6, SHCreateItemFromParsingName), OSTRIVANE_ROW(7, AvSetMmThreadCharacteristicsW),
    OSTRIVANE_ROW(8, AvRevertMmThreadCharacteristics), OSTRIVANE_ROW(9, ILCreateFromPathW),
    OSTRIVANE_ROW(10, ILClone), OSTRIVANE_ROW(11, ILRemoveLastID), OSTRIVANE_ROW(12, ILFree),
    OSTRIVANE_ROW(13, CompareStringOrdinal), OSTRIVANE_ROW(14, SHQueryUserNotificationState),
    OSTRIVANE_ROW(15, GetDpiForMonitor), OSTRIVANE_ROW(16, CancelIoEx)>;

#undef OSTRIVANE_ROW

template <std::size_t index>
constexpr auto LoaderOf() {
  return &std::tuple_element_t<index, Rows>::Load;
}

// Restores the floating-point environment saved at construction, then clears
// pending exceptions.
class FloatingPointGuard {
 public:
  FloatingPointGuard() noexcept { std::fegetenv(&saved_); }
  FloatingPointGuard(const FloatingPointGuard&) = delete;
  FloatingPointGuard& operator=(const FloatingPointGuard&) = delete;
  ~FloatingPointGuard() {
    std::fesetenv(&saved_);
    std::feclearexcept(FE_ALL_EXCEPT);
  }

 private:
  std::fenv_t saved_{};
};

// Restores the previous error mode at destruction.
class ErrorModeGuard {
 public:
  ErrorModeGuard(IDynamicLibraries& libraries, std::uint32_t mode)
      : libraries_(libraries), previous_(libraries.SetErrorMode(mode)) {}
  ErrorModeGuard(const ErrorModeGuard&) = delete;
  ErrorModeGuard& operator=(const ErrorModeGuard&) = delete;
  ~ErrorModeGuard() { libraries_.SetErrorMode(previous_); }

 private:
  IDynamicLibraries& libraries_;
  std::uint32_t previous_;
};

using TextUnit = std::remove_pointer_t<LPCWSTR>;
constexpr TextUnit kEmptyText[1] = {};

// A null text counts as the empty one.
LPCWSTR TextOrEmpty(LPCWSTR text) noexcept { return text != nullptr ? text : kEmptyText; }

}  // namespace

// The entries, armed from the start (constant initialisation), so that a call
// before module initialisation binds as well.
constinit Entry<LANGID> GetUserDefaultUILanguage{LoaderOf<0>()};
constinit Entry<DWORD, HDC, LPCSTR, int, LPWORD, DWORD> GetGlyphIndicesA{LoaderOf<1>()};
constinit Entry<DWORD, HDC, LPCWSTR, int, LPWORD, DWORD> GetGlyphIndicesW{LoaderOf<2>()};
constinit Entry<EXECUTION_STATE, EXECUTION_STATE> SetThreadExecutionState{LoaderOf<3>()};
constinit Entry<BOOL, HWND, HDC, UINT> PrintWindow{LoaderOf<4>()};
constinit Entry<int, LPCWSTR, LPCWSTR> StrCmpLogicalW{LoaderOf<5>()};
constinit Entry<HRESULT, LPCWSTR, IBindCtx*, const GUID&, void**> SHCreateItemFromParsingName{
    LoaderOf<6>()};
constinit Entry<HANDLE, LPCWSTR, LPDWORD> AvSetMmThreadCharacteristicsW{LoaderOf<7>()};
constinit Entry<BOOL, HANDLE> AvRevertMmThreadCharacteristics{LoaderOf<8>()};
constinit Entry<PIDLIST_ABSOLUTE, LPCWSTR> ILCreateFromPathW{LoaderOf<9>()};
constinit Entry<PIDLIST_RELATIVE, PCUIDLIST_RELATIVE> ILClone{LoaderOf<10>()};
constinit Entry<BOOL, PUIDLIST_RELATIVE> ILRemoveLastID{LoaderOf<11>()};
constinit Entry<void, PIDLIST_RELATIVE> ILFree{LoaderOf<12>()};
constinit Entry<int, LPCWSTR, int, LPCWSTR, int, BOOL> CompareStringOrdinal{LoaderOf<13>()};
constinit Entry<HRESULT, QUERY_USER_NOTIFICATION_STATE*> SHQueryUserNotificationState{
    LoaderOf<14>()};
constinit Entry<HRESULT, HMONITOR, MONITOR_DPI_TYPE, UINT*, UINT*> GetDpiForMonitor{LoaderOf<15>()};
constinit Entry<BOOL, HANDLE, LPOVERLAPPED> CancelIoEx{LoaderOf<16>()};

ModuleHandle GuardedLoad(IDynamicLibraries& libraries, const char* fileName) {
  const FloatingPointGuard floatingPoint;
  const ErrorModeGuard errorMode(libraries, kSemNoOpenFileErrorBox);
  return libraries.Load(fileName);
}

namespace Fallback {

LANGID OSTRIVANE_WINAPI GetUserDefaultUILanguage() { return 0; }

DWORD OSTRIVANE_WINAPI GetGlyphIndicesA(HDC, LPCSTR, int, LPWORD, DWORD) { return kGdiError; }

DWORD OSTRIVANE_WINAPI GetGlyphIndicesW(HDC, LPCWSTR, int, LPWORD, DWORD) { return kGdiError; }

EXECUTION_STATE OSTRIVANE_WINAPI SetThreadExecutionState(EXECUTION_STATE) { return 0; }

BOOL OSTRIVANE_WINAPI PrintWindow(HWND, HDC, UINT) { return 0; }

int OSTRIVANE_WINAPI StrCmpLogicalW(LPCWSTR text1, LPCWSTR text2) {
  return platform::CompareInUserLocale(TextOrEmpty(text1), TextOrEmpty(text2), false) - 2;
}

HRESULT OSTRIVANE_WINAPI SHCreateItemFromParsingName(LPCWSTR, IBindCtx*, const GUID&, void** item) {
  if (item != nullptr) *item = nullptr;
  return kENotImpl;
}

HANDLE OSTRIVANE_WINAPI AvSetMmThreadCharacteristicsW(LPCWSTR, LPDWORD) { return nullptr; }

BOOL OSTRIVANE_WINAPI AvRevertMmThreadCharacteristics(HANDLE) { return -1; }

PIDLIST_ABSOLUTE OSTRIVANE_WINAPI ILCreateFromPathW(LPCWSTR) { return nullptr; }

PIDLIST_RELATIVE OSTRIVANE_WINAPI ILClone(PCUIDLIST_RELATIVE) { return nullptr; }

BOOL OSTRIVANE_WINAPI ILRemoveLastID(PUIDLIST_RELATIVE) { return 0; }

void OSTRIVANE_WINAPI ILFree(PIDLIST_RELATIVE) {}

int OSTRIVANE_WINAPI CompareStringOrdinal(LPCWSTR text1, int, LPCWSTR text2, int, BOOL ignoreCase) {
  return platform::CompareInUserLocale(TextOrEmpty(text1), TextOrEmpty(text2), ignoreCase != 0);
}

HRESULT OSTRIVANE_WINAPI SHQueryUserNotificationState(QUERY_USER_NOTIFICATION_STATE*) {
  return kENotImpl;
}

HRESULT OSTRIVANE_WINAPI GetDpiForMonitor(HMONITOR, MONITOR_DPI_TYPE, UINT* x, UINT* y) {
  unsigned dpiX = 0;
  unsigned dpiY = 0;
  platform::ScreenLogicalDpi(gDpiSource.load(std::memory_order_acquire), dpiX, dpiY);
  if (x != nullptr) *x = dpiX;
  if (y != nullptr) *y = dpiY;
  return 0;
}

BOOL OSTRIVANE_WINAPI CancelIoEx(HANDLE, LPOVERLAPPED) { return 0; }

}  // namespace Fallback

void SetLogicalDpiSource(LogicalDpiSource source) noexcept {
  gDpiSource.store(source, std::memory_order_release);
}

}  // namespace ostrivane::DImports

namespace ostrivane {

namespace {

template <std::size_t... index>
void ArmAll(std::index_sequence<index...>) noexcept {
  (std::tuple_element_t<index, DImports::Rows>::Arm(), ...);
}

}  // namespace

void InitializeDImports() { InitializeDImports(DImports::DefaultDynamicLibraries()); }

void InitializeDImports(DImports::IDynamicLibraries& libraries) {
  DImports::gLibraries.store(&libraries, std::memory_order_release);
  ArmAll(std::make_index_sequence<std::tuple_size_v<DImports::Rows>>());
  for (DImports::Slot& slot : DImports::gSlots) {
    slot.handle.store(nullptr, std::memory_order_release);
    slot.loadedByTable.store(false, std::memory_order_release);
  }
}

void FinalizeDImports() {
  using DImports::Module;
  DImports::IDynamicLibraries& libraries = DImports::Libraries();
  if (!libraries.IsExecutable()) return;
  struct Owned {
    Module module;
    bool onlyWhenLoadedByTable;
  };
  constexpr std::array<Owned, 4> kOwned{{
      {Module::kShlwapi, true},
      {Module::kShell32, false},
      {Module::kAvrt, true},
      {Module::kShcore, false},
  }};
  for (const Owned& owned : kOwned) {
    DImports::Slot& slot = DImports::SlotOf(owned.module);
    const bool loadedByTable = slot.loadedByTable.exchange(false, std::memory_order_acq_rel);
    if (owned.onlyWhenLoadedByTable && !loadedByTable) continue;
    // Emptied so that a second finalisation releases nothing twice.
    if (const DImports::ModuleHandle handle =
            slot.handle.exchange(nullptr, std::memory_order_acq_rel)) {
      libraries.Release(handle);
    }
  }
}

}  // namespace ostrivane
