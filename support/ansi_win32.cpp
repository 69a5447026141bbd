#include <windows.h>

#include <climits>
#include <stdexcept>

#include "support/ansi.h"

namespace ostrivane {

std::string ToAnsi(std::u16string_view text) {
  if (text.empty()) return {};
  if (text.size() > static_cast<std::size_t>(INT_MAX)) {
    throw std::length_error("text too long for the ANSI conversion");
  }
  // char16_t and wchar_t are both UTF-16 code units on Windows.
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  const auto* units = reinterpret_cast<const wchar_t*>(text.data());
  const int count = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(CP_ACP, 0, units, count, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string bytes(static_cast<std::size_t>(size), '\0');
  const int written =
      WideCharToMultiByte(CP_ACP, 0, units, count, bytes.data(), size, nullptr, nullptr);
  bytes.resize(static_cast<std::size_t>(written > 0 ? written : 0));
  return bytes;
}

}  // namespace ostrivane
