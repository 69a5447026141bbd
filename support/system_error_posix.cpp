// Without the system's message tables: Windows' own texts for the error
// numbers this program raises.
#include <algorithm>
#include <array>

#include "support/system_error.h"

namespace ostrivane {
namespace {

struct ErrorMessage {
  std::uint32_t code;
  const char* text;
};

constexpr std::array kErrorMessages{
    ErrorMessage{kErrorNotEnoughMemory,
                 "Not enough storage is available to process this command.\r\n"},
    ErrorMessage{kErrorOutOfMemory,
                 "Not enough storage is available to complete this operation.\r\n"},
    ErrorMessage{kErrorInvalidParameter, "The parameter is incorrect.\r\n"},
    ErrorMessage{kErrorInsufficientBuffer,
                 "The data area passed to a system call is too small.\r\n"},
};

}  // namespace

std::string SystemErrorMessage(std::uint32_t code) {
  const auto* it = std::find_if(kErrorMessages.begin(), kErrorMessages.end(),
                                [code](const ErrorMessage& m) { return m.code == code; });
  return it == kErrorMessages.end() ? std::string() : std::string(it->text);
}

}  // namespace ostrivane
