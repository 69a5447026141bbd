#include "support/system_error.h"

#include <utility>

#include "support/text_platform.h"

namespace ostrivane {
namespace {

std::string Trimmed(std::string text) {
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 0x20 || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}

}  // namespace

std::string SystemErrorText(std::uint32_t code) {
  return Trimmed(platform::SystemErrorMessage(code));
}

ESystemError::ESystemError(std::uint32_t code)
    : ESystemError(code, platform::SystemErrorMessage(code)) {}

ESystemError::ESystemError(std::uint32_t code, std::string message)
    : std::runtime_error("System Error.  Code: " + std::to_string(code) + ".\r\n" +
                         Trimmed(std::move(message))),
      code_(code) {}

}  // namespace ostrivane
