#include "relay/mailslot.h"

#include <algorithm>

#include "support/ansi.h"
#include "support/utf8.h"

namespace ostrivane {

TMailSlotWriter::TMailSlotWriter(std::u16string_view name, IMailSlotSystem& system)
    : FSystem(system), FMailSlotName(std::u16string(kMailSlotPrefix) + std::u16string(name)) {}

TMailSlotWriter::~TMailSlotWriter() { Close(); }

void TMailSlotWriter::Open() {
  // A held handle is not tested: a broken one shows when writing fails.
  if (FHandle != kInvalidMailSlotHandle) return;
  FHandle = FSystem.Open(FMailSlotName);
}

void TMailSlotWriter::Close() noexcept {
  if (FHandle == kInvalidMailSlotHandle) return;
  const MailSlotHandle handle = FHandle;
  FHandle = kInvalidMailSlotHandle;
  FSystem.Close(handle);
}

MailSlotWriteResult TMailSlotWriter::Attempt(const void* buffer, std::size_t count) {
  Open();
  if (FHandle == kInvalidMailSlotHandle) return {};
  const MailSlotClock::time_point start = FSystem.Now();
  if (FAllowanceTime) {
    // Time that passed (and was not spent waiting) gives part of the
    // allowance back.
    const MailSlotClock::duration regained =
        std::max(MailSlotClock::duration::zero(), start - *FAllowanceTime) / kMailSlotWaitShare;
    FWaitAllowance =
        std::min<MailSlotClock::duration>(FWaitAllowance + regained, kMailSlotWaitAllowance);
  }
  const MailSlotClock::duration roomWait =
      FReaderStuck ? MailSlotClock::duration::zero() : FWaitAllowance;
  const MailSlotWriteResult result =
      FSystem.Write(FHandle, static_cast<const std::uint8_t*>(buffer), count, roomWait);
  const MailSlotClock::time_point end = FSystem.Now();
  FWaitAllowance -= std::clamp<MailSlotClock::duration>(
      end - start, MailSlotClock::duration::zero(), FWaitAllowance);
  FAllowanceTime = end;
  // A reader that took a message reads again; one whose queue is still full
  // after the wait is not waited for again until it takes one.
  FReaderStuck = result.status == MailSlotWriteStatus::Full;
  return result;
}

std::size_t TMailSlotWriter::Write(const void* buffer, std::size_t count) {
  MailSlotWriteResult result = Attempt(buffer, count);
  if (result.status != MailSlotWriteStatus::Written) {
    // Drop the handle that failed; the second attempt opens the slot afresh.
    // If that open works but the write fails, the new handle stays held. A
    // full queue is tried again too: behind a fresh handle there may be a
    // new reader, and the stuck one is not waited for twice.
    Close();
    result = Attempt(buffer, count);
    // A message given up for a reader that does not read lets go of the
    // slot: its owner may have gone, and while a writer holds a handle on
    // it, a slot can outlive its owner and keep its name from the next one.
    // The next Write opens the slot afresh.
    if (result.status == MailSlotWriteStatus::Full) Close();
  }
  return result.status == MailSlotWriteStatus::Written ? result.count : 0;
}

void TMailSlotWriter::WriteString(std::string_view aString) {
  Write(aString.data(), aString.size());
}

std::size_t TMailSlotWriter::Read(void* /*buffer*/, std::size_t /*count*/) {
  throw EStreamError("Stream read error: " + Utf16ToUtf8(FMailSlotName));
}

std::int64_t TMailSlotWriter::Seek(std::int64_t /*offset*/, SeekOrigin /*origin*/) {
  throw EStreamError("TMailSlotWriter.Seek not implemented");
}

// The position and the size are found by seeking, so they fail as seeking does.
std::int64_t TMailSlotWriter::GetPosition() { return Seek(0, SeekOrigin::soCurrent); }

std::int64_t TMailSlotWriter::GetSize() { return Seek(0, SeekOrigin::soEnd); }

void TMailSlotWriter::SetSize(std::int64_t /*newSize*/) {}

void TMailSlotWriter::SendString(std::u16string_view destName, std::u16string_view aString,
                                 IMailSlotSystem& system) {
  TMailSlotWriter writer(destName, system);
  writer.WriteString(ToAnsi(aString));
}

void TMailSlotWriter::SendData(std::u16string_view destName, const void* data, std::size_t count,
                               IMailSlotSystem& system) {
  TMailSlotWriter writer(destName, system);
  writer.Write(data, count);
}

}  // namespace ostrivane
