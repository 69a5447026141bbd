// What the mailslot writer needs from the system: the client side of its
// mailslots.
//
// IMailSlotSystem is an interface so that the tests can put a fake
// (relay/mailslot_fake.h) in the system's place. The system's own is
// DefaultMailSlotSystem(), defined in mailslot_posix.cpp and
// mailslot_win32.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace ostrivane {

// A system handle: unsigned and pointer-sized, all bits set while none is held
// (INVALID_HANDLE_VALUE on Windows; a file descriptor elsewhere).
using MailSlotHandle = std::uintptr_t;
inline constexpr MailSlotHandle kInvalidMailSlotHandle = ~MailSlotHandle{0};

class IMailSlotSystem {
 public:
  virtual ~IMailSlotSystem() = default;
  // Attaches to the slot that `fullPath` names, which its owner must have
  // created; never creates one. kInvalidMailSlotHandle on failure.
  virtual MailSlotHandle Open(std::u16string_view fullPath) = 0;
  // Sends `count` bytes as one message: the number of bytes written, or
  // nullopt when the write failed.
  virtual std::optional<std::size_t> Write(MailSlotHandle handle, const std::uint8_t* data,
                                           std::size_t count) = 0;
  // Gives the handle back; failures are ignored.
  virtual void Close(MailSlotHandle handle) = 0;
};

// The platform's mailslots: one object for the whole process.
IMailSlotSystem& DefaultMailSlotSystem();

}  // namespace ostrivane
