// The system's error report as an exception: an error number of the system's
// own numbering (GetLastError's) with the system's text for it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace ostrivane {

// Error numbers of the system that this program acts on.
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorOutOfMemory = 14;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;

// The system's text for an error number (platform::SystemErrorMessage)
// without its trailing spaces, line breaks and dots: the form that error
// reports show; empty when the system has none.
std::string SystemErrorText(std::uint32_t code);

// "System Error.  Code: %d.\r\n%s" with the error number and its
// SystemErrorText.
class ESystemError : public std::runtime_error {
 public:
  explicit ESystemError(std::uint32_t code);
  // The same report with a text that the caller got from the system itself
  // (where the system numbers its errors otherwise, e.g. errno and its
  // strerror text); the text is trimmed like SystemErrorText.
  ESystemError(std::uint32_t code, std::string message);
  [[nodiscard]] std::uint32_t Code() const noexcept { return code_; }

 private:
  std::uint32_t code_;
};

}  // namespace ostrivane
