// Errors of socket activation, with Winsock's numbering and texts.
#pragma once

#include <stdexcept>
#include <string>

namespace ostrivane {

// The text of a Winsock error number; empty for a number it does not know.
const char* WinsockErrorText(int code) noexcept;

// "Socket Error # %d\r\n%s"
class ESocketError : public std::runtime_error {
 public:
  explicit ESocketError(int code);
  [[nodiscard]] int Code() const noexcept { return code_; }

 private:
  int code_;
};

// A bind that failed for any reason.
class EBindError : public std::runtime_error {
 public:
  EBindError();
};

}  // namespace ostrivane
