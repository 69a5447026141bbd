// The mailslot module: the write-only stream to the presentation application's
// mailslot. Every Write is one message; a failed delivery shows as a count of
// 0, never as an exception.
#pragma once

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
  // through a fresh one. Returns the bytes written, or 0 when not delivered.
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
  // One open-and-write; nullopt when it failed.
  std::optional<std::size_t> Attempt(const void* buffer, std::size_t count);

  IMailSlotSystem& FSystem;
  MailSlotHandle FHandle = kInvalidMailSlotHandle;
  std::u16string FMailSlotName;
};

}  // namespace ostrivane
