// What the mailslot writer needs from the system: the client side of its
// mailslots, and a clock.
//
// IMailSlotSystem is an interface so that the tests can put a fake
// (relay/mailslot_fake.h) in the system's place. The system's own is
// DefaultMailSlotSystem(), defined in mailslot_posix.cpp and
// mailslot_win32.cpp.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ostrivane {

// A system handle: unsigned and pointer-sized, all bits set while none is held
// (INVALID_HANDLE_VALUE on Windows; a file descriptor elsewhere).
using MailSlotHandle = std::uintptr_t;
inline constexpr MailSlotHandle kInvalidMailSlotHandle = ~MailSlotHandle{0};

// The clock that the writer measures its waiting with.
using MailSlotClock = std::chrono::steady_clock;

// What one write came to.
enum class MailSlotWriteStatus {
  Written,  // the message is on its way to the reader
  Full,     // the reader's queue had no room for it until the wait was over
  Failed,   // anything else: no slot behind the handle, a broken handle
};

struct MailSlotWriteResult {
  MailSlotWriteStatus status = MailSlotWriteStatus::Failed;
  std::size_t count = 0;  // the bytes written, when Written
};

class IMailSlotSystem {
 public:
  virtual ~IMailSlotSystem() = default;
  // Attaches to the slot that `fullPath` names, which its owner must have
  // created; never creates one. kInvalidMailSlotHandle on failure.
  virtual MailSlotHandle Open(std::u16string_view fullPath) = 0;
  // Sends `count` bytes as one message. A system whose reader's queue can
  // fill up waits at most `roomWait` for room in it, and not at all once
  // platform::CancelMailSlotWaits() has been called; a message that found
  // no room is not delivered later. (A Windows mailslot takes a message at
  // once; Wine's makes the writer wait while its queue is full.)
  virtual MailSlotWriteResult Write(MailSlotHandle handle, const std::uint8_t* data,
                                    std::size_t count, MailSlotClock::duration roomWait) = 0;
  // Gives the handle back; failures are ignored.
  virtual void Close(MailSlotHandle handle) = 0;
  // The time now, on the clock of the waits above.
  virtual MailSlotClock::time_point Now() = 0;
};

// The platform's mailslots: one object for the whole process.
IMailSlotSystem& DefaultMailSlotSystem();

namespace platform {

// The process is ending: a write that is waiting for room in a reader's
// queue stops waiting at once, and no later write waits, for the rest of
// the process's life. Safe to call from a signal handler and from any
// thread.
void CancelMailSlotWaits() noexcept;

}  // namespace platform

}  // namespace ostrivane
