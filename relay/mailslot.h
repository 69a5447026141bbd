// The mailslot module: the write-only stream to the presentation application's
// mailslot. Every Write is one message; a failed delivery shows as a count of
// 0, never as an exception.
//
// Where the reader's queue can fill up (the Unix datagram socket that stands
// in for a mailslot holds only a few messages), a write waits for room, but
// the waiting is bounded per reader, not per message:
// - each writer has a wait allowance of at most kMailSlotWaitAllowance
//   (500 ms); a write waits at most what is left of it, and the time it
//   waited is taken off. The allowance grows back by one part in
//   kMailSlotWaitShare (a tenth) of the time that passes. A reader that is
//   slow for a moment thus loses nothing, and a reader that reads, but more
//   slowly than commands come, costs at most a tenth of the writer's time
//   once the first 500 ms are spent;
// - once a write has found the queue still full when its wait was over,
//   later writes do not wait at all until one of them gets a message into
//   the queue again: a reader that has stopped reading costs one wait in
//   all, and every message after it is dropped at once.
// - a message given up this way closes the handle, so that a slot whose
//   owner has gone is not kept alive by the writer (Wine keeps a mailslot
//   and its name while any writer holds a handle on it; an owner that has
//   gone no longer reads, so its queue fills up).
// A Windows mailslot takes a message at once; under Wine a write to a slot
// whose queue is full waits until its reader takes one, and the same rules
// bound that wait.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "relay/mailslot_platform.h"

namespace ostrivane {

// A stream operation that this stream does not support. The message is UTF-8.
class EStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "\\.\mailslot\": the start of every mailslot path.
inline constexpr std::u16string_view kMailSlotPrefix = u"\\\\.\\mailslot\\";

enum class SeekOrigin { soBeginning, soCurrent, soEnd };

// The most a writer waits for room in its reader's queue, in one write and
// in all until the allowance grows back.
inline constexpr std::chrono::milliseconds kMailSlotWaitAllowance{500};
// The allowance grows back by the time that passes divided by this.
inline constexpr int kMailSlotWaitShare = 10;

class TMailSlotWriter {
 public:
  // A writer for the slot "\\.\mailslot\" + `name`; `name` is taken as it is.
  // Nothing is opened until the first Write.
  explicit TMailSlotWriter(std::u16string_view name,
                           IMailSlotSystem& system = DefaultMailSlotSystem());
  ~TMailSlotWriter();
  TMailSlotWriter(const TMailSlotWriter&) = delete;
  TMailSlotWriter& operator=(const TMailSlotWriter&) = delete;

  // Sends `count` bytes as one message. Opens the slot when no handle is held;
  // a failed attempt closes the handle and the message is tried once more
  // through a fresh one; a message given up for a full queue closes that one
  // too. Returns the bytes written, or 0 when not delivered.
  // How long it may wait for room in the reader's queue: see above.
  std::size_t Write(const void* buffer, std::size_t count);
  // All bytes of an 8-bit string, without a terminating zero, as one message.
  // The result of Write is discarded.
  void WriteString(std::string_view aString);

  // Always raises EStreamError "Stream read error: " + the slot path.
  std::size_t Read(void* buffer, std::size_t count);
  // Seeking, the position and the size are not available: these raise
  // EStreamError "TMailSlotWriter.Seek not implemented".
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin);
  std::int64_t GetPosition();
  std::int64_t GetSize();
  // Has no effect.
  void SetSize(std::int64_t newSize);

  // One-shot conveniences: a temporary writer for `destName` sends one
  // message and is released again, also when sending raises. SendString
  // converts the text to the system's ANSI code page first.
  static void SendString(std::u16string_view destName, std::u16string_view aString,
                         IMailSlotSystem& system = DefaultMailSlotSystem());
  static void SendData(std::u16string_view destName, const void* data, std::size_t count,
                       IMailSlotSystem& system = DefaultMailSlotSystem());

  // The full slot path, "\\.\mailslot\" followed by the name.
  [[nodiscard]] const std::u16string& MailSlotName() const noexcept { return FMailSlotName; }

 private:
  void Open();
  void Close() noexcept;
  // One open-and-write, waiting for room as the allowance and the state of
  // the reader let it.
  MailSlotWriteResult Attempt(const void* buffer, std::size_t count);

  IMailSlotSystem& FSystem;
  MailSlotHandle FHandle = kInvalidMailSlotHandle;
  std::u16string FMailSlotName;
  // The wait allowance as it was at FAllowanceTime (unset before the first
  // write).
  MailSlotClock::duration FWaitAllowance = kMailSlotWaitAllowance;
  std::optional<MailSlotClock::time_point> FAllowanceTime;
  // The last write found the reader's queue full: it has stopped reading,
  // as far as the writer knows.
  bool FReaderStuck = false;
};

}  // namespace ostrivane
