// GUIDs: 128-bit identifiers of interfaces and of the tray icon, their text
// form in braces, and new random ones.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace ostrivane {

// A GUID in its usual layout.
struct TGUID {
  std::uint32_t D1 = 0;
  std::uint16_t D2 = 0;
  std::uint16_t D3 = 0;
  std::array<std::uint8_t, 8> D4{};
  friend constexpr bool operator==(const TGUID&, const TGUID&) = default;
};

// A GUID written as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", or nullopt.
std::optional<TGUID> ParseGuid(std::u16string_view text);

// A new random GUID (version 4).
TGUID NewGuid();

}  // namespace ostrivane
