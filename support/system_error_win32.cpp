#include <windows.h>

#include <array>

#include "support/system_error.h"
#include "support/utf8.h"

namespace ostrivane {

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

}  // namespace ostrivane
