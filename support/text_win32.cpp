// Windows: the national-language functions and the system's message table.
#include <windows.h>

#include <array>
#include <climits>
#include <stdexcept>

#include "support/system_error.h"
#include "support/text_platform.h"
#include "support/utf8.h"

namespace ostrivane::platform {
namespace {

// char16_t and wchar_t are both UTF-16 code units on Windows.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

const wchar_t* Wide(const char16_t* text) noexcept {
  return reinterpret_cast<const wchar_t*>(text);
}
wchar_t* Wide(char16_t* text) noexcept { return reinterpret_cast<wchar_t*>(text); }

}  // namespace

std::string AnsiFromUtf16(std::u16string_view text) {
  if (text.empty()) return {};
  if (text.size() > static_cast<std::size_t>(INT_MAX)) {
    throw std::length_error("text too long for the ANSI conversion");
  }
  const wchar_t* units = Wide(text.data());
  const int count = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(CP_ACP, 0, units, count, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string bytes(static_cast<std::size_t>(size), '\0');
  const int written =
      WideCharToMultiByte(CP_ACP, 0, units, count, bytes.data(), size, nullptr, nullptr);
  bytes.resize(static_cast<std::size_t>(written > 0 ? written : 0));
  return bytes;
}

std::uint32_t AnsiCodePage() { return ::GetACP(); }

FoldAnswer SystemFoldDigits(std::u16string_view text, std::span<char16_t> out) {
  if (text.size() > static_cast<std::size_t>(INT_MAX) ||
      out.size() > static_cast<std::size_t>(INT_MAX)) {
    return {0, kErrorInvalidParameter};
  }
  const int length = FoldStringW(MAP_FOLDDIGITS, Wide(text.data()), static_cast<int>(text.size()),
                                 Wide(out.data()), static_cast<int>(out.size()));
  if (length <= 0) return {0, GetLastError()};
  return {static_cast<std::size_t>(length), 0};
}

std::string SystemErrorMessage(std::uint32_t code) {
  // System messages are short; a text that does not fit counts as none.
  std::array<wchar_t, 1024> buffer{};
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                     buffer.data(), static_cast<DWORD>(buffer.size()), nullptr);
  std::u16string text(length, u'\0');
  for (DWORD i = 0; i < length; ++i) text[i] = static_cast<char16_t>(buffer[i]);
  return Utf16ToUtf8(text);
}

std::uint32_t UserDefaultLCID() { return ::GetUserDefaultLCID(); }

char16_t UserDecimalSeparator() {
  std::array<wchar_t, 8> buffer{};
  const int length = ::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buffer.data(),
                                      static_cast<int>(buffer.size()));
  // The length counts the terminating NUL: 1 means an empty separator.
  return length > 1 ? static_cast<char16_t>(buffer[0]) : u'.';
}

}  // namespace ostrivane::platform
