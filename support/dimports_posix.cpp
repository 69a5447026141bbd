// POSIX: the dynamic linker behind the table (no Windows module exists, so
// every entry binds to its fallback), ICU's collator for the locale
// comparison, and the GUI toolkit's logical DPI.
#include <dlfcn.h>
#include <unicode/ucol.h>
#include <unicode/uiter.h>
#include <unicode/utypes.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>

#include "support/dimports_platform.h"
#include "support/ui_language.h"

namespace ostrivane::DImports {
namespace {

class PosixDynamicLibraries final : public IDynamicLibraries {
 public:
  ModuleHandle FindLoaded(const char* fileName) override {
    return ::dlopen(fileName, RTLD_NOLOAD | RTLD_LAZY);
  }
  ModuleHandle Load(const char* fileName) override { return ::dlopen(fileName, RTLD_LAZY); }
  std::uint32_t SetErrorMode(std::uint32_t mode) override {
    // No error boxes here: the mode is only kept.
    const std::uint32_t previous = errorMode_;
    errorMode_ = mode;
    return previous;
  }
  ProcAddress FindFunction(ModuleHandle module, const char* name) override {
    return reinterpret_cast<ProcAddress>(::dlsym(module, name));
  }
  void Release(ModuleHandle module) override { ::dlclose(module); }
  bool IsExecutable() override { return true; }

 private:
  std::atomic<std::uint32_t> errorMode_{0};
};

}  // namespace

IDynamicLibraries& DefaultDynamicLibraries() {
  static PosixDynamicLibraries libraries;
  return libraries;
}

}  // namespace ostrivane::DImports

namespace ostrivane::platform {
namespace {

struct CollatorCloser {
  void operator()(UCollator* collator) const noexcept { ucol_close(collator); }
};

[[noreturn]] void ThrowIcuError(const char* operation, UErrorCode status) {
  throw std::runtime_error(std::string(operation) + " failed: " + u_errorName(status));
}

}  // namespace

int CompareInUserLocale(const char16_t* text1, const char16_t* text2, bool ignoreCase) {
  // The collation locale as POSIX resolves it; ICU takes "ll_CC" as it is,
  // and the C locale is its root.
  const std::string locale = CollatorLocaleName(PosixLocaleSetting("LC_COLLATE"));
  UErrorCode status = U_ZERO_ERROR;
  const std::unique_ptr<UCollator, CollatorCloser> collator(ucol_open(locale.c_str(), &status));
  if (U_FAILURE(status)) ThrowIcuError("ucol_open", status);
  if (ignoreCase) {
    ucol_setStrength(collator.get(), UCOL_SECONDARY);
  }
  UCharIterator iterator1;
  UCharIterator iterator2;
  uiter_setString(&iterator1, text1, -1);
  uiter_setString(&iterator2, text2, -1);
  const UCollationResult result = ucol_strcollIter(collator.get(), &iterator1, &iterator2, &status);
  if (U_FAILURE(status)) ThrowIcuError("ucol_strcollIter", status);
  switch (result) {
    case UCOL_LESS:
      return kCstrLessThan;
    case UCOL_EQUAL:
      return kCstrEqual;
    case UCOL_GREATER:
      return kCstrGreaterThan;
  }
  return kCstrEqual;
}

void ScreenLogicalDpi(DImports::LogicalDpiSource toolkit, unsigned& x, unsigned& y) {
  unsigned sourceX = 0;
  unsigned sourceY = 0;
  if (toolkit != nullptr && toolkit(sourceX, sourceY)) {
    x = sourceX;
    y = sourceY;
  } else {
    x = 96;
    y = 96;
  }
}

}  // namespace ostrivane::platform
