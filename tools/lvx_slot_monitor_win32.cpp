// The owner's side of a slot on Windows: a mailslot made with
// CreateMailslotW, read with ReadFile.
#include <windows.h>

#include <algorithm>
#include <atomic>

#include "support/system_error.h"
#include "support/utf8.h"
#include "tools/lvx_slot_monitor_platform.h"

namespace ostrivane::platform {
namespace {

// The largest message the slot takes. The read buffer has this size, so a
// message never meets a buffer too small for it (Windows would refuse the
// read, Wine cuts the message without saying so).
constexpr DWORD kMaxMessage = 4 << 20;
// How long one ReadFile waits for a message before the stop request is
// looked at again.
constexpr DWORD kReadTimeoutMs = 100;

std::atomic<bool> gStop{false};
// Set together with gStop; ends a pause at once.
HANDLE gStopEvent = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      gStop = true;
      if (gStopEvent != nullptr) SetEvent(gStopEvent);
      return TRUE;
    default:
      return FALSE;
  }
}

std::string ErrorText(DWORD code) {
  const std::string text = SystemErrorText(code);
  return text.empty() ? "error " + std::to_string(code) : text;
}

}  // namespace

struct SlotServer::State {
  explicit State(HANDLE slot, std::string slotPath) : handle(slot), path(std::move(slotPath)) {}
  ~State() { CloseHandle(handle); }
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  HANDLE handle;
  std::string path;
  std::vector<std::uint8_t> buffer;
};

SlotServer::SlotServer(std::unique_ptr<State> state) : state_(std::move(state)) {}
SlotServer::~SlotServer() = default;

SlotServerOpening OpenSlotServer(std::u16string_view fullPath) {
  SlotServerOpening opening;
  opening.location = Utf16ToUtf8(fullPath);
  const std::wstring path(fullPath.begin(), fullPath.end());
  const HANDLE slot = CreateMailslotW(path.c_str(), kMaxMessage, kReadTimeoutMs, nullptr);
  if (slot == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) {
      opening.error = "a live slot already exists at " + opening.location +
                      " (is another monitor or the presentation application running?)";
    } else {
      opening.error = "cannot create the slot " + opening.location + ": " + ErrorText(error);
    }
    return opening;
  }
  opening.server =
      std::make_unique<SlotServer>(std::make_unique<SlotServer::State>(slot, opening.location));
  return opening;
}

void CatchStopRequests() {
  gStopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

WaitOutcome ReadSlotMessage(SlotServer& slot, std::size_t keep, std::vector<std::uint8_t>& bytes,
                            std::size_t& length, std::string& error) {
  SlotServer::State& server = slot.state();
  server.buffer.resize(kMaxMessage);
  for (;;) {
    if (gStop) return WaitOutcome::kStopped;
    DWORD read = 0;
    if (ReadFile(server.handle, server.buffer.data(), kMaxMessage, &read, nullptr)) {
      length = read;
      break;
    }
    const DWORD readError = GetLastError();
    if (readError == ERROR_SEM_TIMEOUT) continue;
    // Wine fails the read of an empty message this way, and takes it from
    // the slot all the same.
    if (readError == ERROR_BROKEN_PIPE) {
      length = 0;
      break;
    }
    error = "cannot read from " + server.path + ": " + ErrorText(readError);
    return WaitOutcome::kFailed;
  }
  bytes.assign(server.buffer.begin(),
               server.buffer.begin() + static_cast<std::ptrdiff_t>(std::min(length, keep)));
  return WaitOutcome::kDone;
}

WaitOutcome Pause(unsigned long milliseconds) {
  if (gStop) return WaitOutcome::kStopped;
  if (gStopEvent == nullptr) {
    Sleep(static_cast<DWORD>(milliseconds));
    return WaitOutcome::kDone;
  }
  switch (WaitForSingleObject(gStopEvent, static_cast<DWORD>(milliseconds))) {
    case WAIT_OBJECT_0:
      return WaitOutcome::kStopped;
    case WAIT_TIMEOUT:
      return WaitOutcome::kDone;
    default:
      return WaitOutcome::kFailed;
  }
}

SlotMonitorHelp SlotMonitorHelpTexts() {
  return {R"(The endpoint is the mailslot \\.\mailslot\<slot>, made with CreateMailslotW;
it takes messages of up to 4 MiB. A slot that exists already, of another
monitor or of the presentation application, is left alone. The slot goes
away when the monitor ends.
)",
          "Ends on Ctrl+C or Ctrl+Break, or after --count messages.\n"};
}

}  // namespace ostrivane::platform
