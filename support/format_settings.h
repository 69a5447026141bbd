// The process's number format settings: read from the user's locale at
// start-up; only the decimal separator is used.
#pragma once

namespace ostrivane {

// The decimal separator D, one UTF-16 code unit ("." when the locale gives none).
char16_t DecimalSeparator() noexcept;
void SetDecimalSeparator(char16_t separator) noexcept;

// Sets the settings from the user's locale (platform::UserDecimalSeparator).
void LoadFormatSettingsFromSystem();

}  // namespace ostrivane
