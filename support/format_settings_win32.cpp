// Windows: the decimal separator of the user's default locale.
#include <windows.h>

#include <array>

#include "support/format_settings.h"

namespace ostrivane {

void LoadFormatSettingsFromSystem() {
  std::array<wchar_t, 8> buffer{};
  const int length = ::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buffer.data(),
                                      static_cast<int>(buffer.size()));
  // The length counts the terminating NUL: 1 means an empty separator.
  SetDecimalSeparator(length > 1 ? static_cast<char16_t>(buffer[0]) : u'.');
}

}  // namespace ostrivane
