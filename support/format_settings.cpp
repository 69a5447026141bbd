// The process-wide decimal separator.
#include "support/format_settings.h"

#include <atomic>

#include "support/text_platform.h"

namespace ostrivane {

namespace {

std::atomic<char16_t> g_decimalSeparator{u'.'};

// The settings come from the user's locale before the program body runs, as
// the runtime does it; LoadFormatSettingsFromSystem may be called again when
// the regional settings change.
const bool g_loadedAtStartUp = [] {
  LoadFormatSettingsFromSystem();
  return true;
}();

}  // namespace

char16_t DecimalSeparator() noexcept { return g_decimalSeparator.load(std::memory_order_relaxed); }

void SetDecimalSeparator(char16_t separator) noexcept {
  g_decimalSeparator.store(separator, std::memory_order_relaxed);
}

void LoadFormatSettingsFromSystem() { SetDecimalSeparator(platform::UserDecimalSeparator()); }

}  // namespace ostrivane
