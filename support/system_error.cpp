#include "support/system_error.h"

#include "support/text_platform.h"

namespace ostrivane {

std::string SystemErrorText(std::uint32_t code) {
  std::string text = platform::SystemErrorMessage(code);
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 0x20 || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}

ESystemError::ESystemError(std::uint32_t code)
    : std::runtime_error("System Error.  Code: " + std::to_string(code) + ".\r\n" +
                         SystemErrorText(code)),
      code_(code) {}

}  // namespace ostrivane
