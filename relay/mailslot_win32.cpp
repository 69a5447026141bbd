// The system's mailslots on Windows: the client side, CreateFileW on the
// slot path.
//
// A Windows mailslot takes a message at once. Wine's makes WriteFile wait
// while the slot's queue is full, for as long as its reader does not read;
// so the handle is opened for overlapped I/O, and a write that is still
// pending when its wait for room is over is cancelled and reported as
// finding the queue full.
#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <string>

#include "relay/mailslot_platform.h"
#include "support/dimports.h"

namespace ostrivane {
namespace {

HANDLE ToHandle(MailSlotHandle handle) { return reinterpret_cast<HANDLE>(handle); }

// The process's shutdown request as the waits see it: set once, never
// cleared, and the event that ends a wait under way (made at the first wait;
// null before).
std::atomic<bool> g_waitsCancelled{false};
std::atomic<HANDLE> g_cancelEvent{nullptr};

// The event of the shutdown request, made once; null when none could be
// made (then a wait under way runs to its end, and later ones do not begin).
HANDLE CancelEvent() {
  static const HANDLE event = [] {
    const HANDLE made = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_cancelEvent.store(made);
    // A request that came before the event existed.
    if (made != nullptr && g_waitsCancelled.load()) SetEvent(made);
    return made;
  }();
  return event;
}

// An event of the calling thread's own for the completion of its writes.
class CompletionEvent {
 public:
  CompletionEvent() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~CompletionEvent() {
    if (event_ != nullptr) CloseHandle(event_);
  }
  CompletionEvent(const CompletionEvent&) = delete;
  CompletionEvent& operator=(const CompletionEvent&) = delete;
  [[nodiscard]] HANDLE Get() const noexcept { return event_; }

 private:
  HANDLE event_;
};

// Waits until the pending write of `overlapped` completes, `roomWait` has
// passed or the process is ending; true only in the first case.
bool WaitForCompletion(const OVERLAPPED& overlapped, MailSlotClock::duration roomWait) {
  if (g_waitsCancelled.load()) return false;
  const auto ms = std::clamp<std::chrono::milliseconds::rep>(
      std::chrono::ceil<std::chrono::milliseconds>(roomWait).count(), 0, INFINITE - 1);
  const HANDLE cancel = CancelEvent();
  const std::array<HANDLE, 2> events{overlapped.hEvent, cancel};
  const DWORD count = cancel != nullptr ? 2 : 1;
  return WaitForMultipleObjects(count, events.data(), FALSE, static_cast<DWORD>(ms)) ==
         WAIT_OBJECT_0;
}

class Win32MailSlotSystem final : public IMailSlotSystem {
 public:
  MailSlotHandle Open(std::u16string_view fullPath) override {
    // A zero character would cut the path short and name another slot.
    if (fullPath.find(u'\0') != std::u16string_view::npos) return kInvalidMailSlotHandle;
    const std::wstring path(fullPath.begin(), fullPath.end());
    // OPEN_EXISTING: attach to the slot its owner created, never create one.
    // On failure this is INVALID_HANDLE_VALUE, which is kInvalidMailSlotHandle.
    const HANDLE handle =
        CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    return reinterpret_cast<MailSlotHandle>(handle);
  }

  // One WriteFile, one message. Where it cannot complete at once, it may
  // take `roomWait`; then it is cancelled, and a cancelled write delivers
  // nothing.
  MailSlotWriteResult Write(MailSlotHandle handle, const std::uint8_t* data, std::size_t count,
                            MailSlotClock::duration roomWait) override {
    if (count > MAXDWORD) return {};
    thread_local const CompletionEvent completion;
    if (completion.Get() == nullptr) return {};
    const HANDLE file = ToHandle(handle);
    OVERLAPPED overlapped{};
    overlapped.hEvent = completion.Get();
    if (!WriteFile(file, data, static_cast<DWORD>(count), nullptr, &overlapped)) {
      if (GetLastError() != ERROR_IO_PENDING) return {};
      if (!WaitForCompletion(overlapped, roomWait)) {
        // The write was started on this thread, so CancelIo reaches it where
        // the system lacks CancelIoEx. Either way, the write is over only
        // once GetOverlappedResult below has seen it end.
        if (DImports::CancelIoEx(file, reinterpret_cast<DImports::LPOVERLAPPED>(&overlapped)) ==
            0) {
          CancelIo(file);
        }
      }
    }
    DWORD written = 0;
    if (!GetOverlappedResult(file, &overlapped, &written, TRUE)) {
      if (GetLastError() == ERROR_OPERATION_ABORTED) return {MailSlotWriteStatus::Full, 0};
      return {};
    }
    // Completed after all, also when its cancellation came too late.
    return {MailSlotWriteStatus::Written, static_cast<std::size_t>(written)};
  }

  void Close(MailSlotHandle handle) override { CloseHandle(ToHandle(handle)); }

  MailSlotClock::time_point Now() override { return MailSlotClock::now(); }
};

}  // namespace

IMailSlotSystem& DefaultMailSlotSystem() {
  static Win32MailSlotSystem system;
  return system;
}

void platform::CancelMailSlotWaits() noexcept {
  g_waitsCancelled.store(true);
  if (const HANDLE event = g_cancelEvent.load()) SetEvent(event);
}

}  // namespace ostrivane
