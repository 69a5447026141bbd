// Where the optional-function table meets the system: the dynamic loader it
// binds its entries with, and what two of its fallbacks ask of the platform,
// the locale comparison and the screen's DPI. dimports_win32.cpp has the
// Windows loader, CompareStringW and the screen's device context;
// dimports_posix.cpp the dynamic linker, ICU's collator and the GUI
// toolkit's DPI.
#pragma once

#include <cstdint>

#include "support/dimports.h"

namespace ostrivane::DImports {

// The dynamic-loading operations the table is built on. A virtual interface
// only so that the tests can put a fake loader (support/dimports_fake.h) in
// the system's place.
class IDynamicLibraries {
 public:
  virtual ~IDynamicLibraries() = default;
  // The handle of an already loaded module, null when it is not loaded.
  virtual ModuleHandle FindLoaded(const char* fileName) = 0;
  // Loads a module (it stays loaded until Release), null when it cannot.
  virtual ModuleHandle Load(const char* fileName) = 0;
  // Sets the process error mode and returns the previous one.
  virtual std::uint32_t SetErrorMode(std::uint32_t mode) = 0;
  // A function of a module by its 8-bit name, null when it has none.
  virtual ProcAddress FindFunction(ModuleHandle module, const char* name) = 0;
  virtual void Release(ModuleHandle module) = 0;
  // Whether this code is part of the executable rather than of a library.
  virtual bool IsExecutable() = 0;
};

// The system's loader (Windows' or the POSIX dynamic linker).
IDynamicLibraries& DefaultDynamicLibraries();

}  // namespace ostrivane::DImports

namespace ostrivane::platform {

inline constexpr int kCstrLessThan = 1;
inline constexpr int kCstrEqual = 2;
inline constexpr int kCstrGreaterThan = 3;

// Compares two NUL-terminated texts in the user's default locale, ignoring
// letter case when `ignoreCase` is set: kCstrLessThan, kCstrEqual or
// kCstrGreaterThan. Throws when the comparison reports an error.
// CompareStringW(LOCALE_USER_DEFAULT) on Windows; on POSIX ICU's collator
// for the locale that LC_ALL, LC_COLLATE or LANG names (the root collation
// for C and POSIX).
int CompareInUserLocale(const char16_t* text1, const char16_t* text2, bool ignoreCase);

// The screen's logical pixels per inch, horizontally and vertically. Windows
// asks the screen's device context and ignores `toolkit`; POSIX asks
// `toolkit` when there is one (see DImports::SetLogicalDpiSource) and
// answers 96 for both axes without one or when it has no screen.
void ScreenLogicalDpi(DImports::LogicalDpiSource toolkit, unsigned& x, unsigned& y);

}  // namespace ostrivane::platform
