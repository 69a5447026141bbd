// What lvx-slot-monitor needs from the system: the owner's side of a
// mailslot, and a way to be stopped (lvx_slot_monitor_posix.cpp,
// lvx_slot_monitor_win32.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ostrivane::platform {

// The slot while this process owns it; given up when the object ends (on
// POSIX its socket file is removed then).
class SlotServer {
 public:
  struct State;  // the system's objects
  explicit SlotServer(std::unique_ptr<State> state);
  ~SlotServer();
  SlotServer(const SlotServer&) = delete;
  SlotServer& operator=(const SlotServer&) = delete;

  State& state() noexcept { return *state_; }

 private:
  std::unique_ptr<State> state_;
};

struct SlotServerOpening {
  std::unique_ptr<SlotServer> server;  // null when the slot could not be made
  std::string location;                // where the slot is, for people (UTF-8)
  std::string error;                   // why it could not be made
};

// Creates the slot `fullPath` ("\\.\mailslot\" and a plain name) as its
// owner. An existing slot of another owner is never taken over.
SlotServerOpening OpenSlotServer(std::u16string_view fullPath);

// From here on a stop request (POSIX: SIGINT or SIGTERM; Windows: Ctrl+C,
// Ctrl+Break, closing the console) ends the waits below instead of the
// process.
void CatchStopRequests();

enum class WaitOutcome { kDone, kStopped, kFailed };

// Waits for the next message and takes it from the slot: its first
// `keep` bytes go into `bytes`, its full length into `length`. kFailed with
// `error` set when the slot cannot be read.
WaitOutcome ReadSlotMessage(SlotServer& server, std::size_t keep, std::vector<std::uint8_t>& bytes,
                            std::size_t& length, std::string& error);

// Waits `milliseconds`, or less when a stop is asked for.
WaitOutcome Pause(unsigned long milliseconds);

// The parts of --help that differ between the systems: where the slot is
// (a paragraph) and what stops the monitor (one line).
struct SlotMonitorHelp {
  std::string_view place;
  std::string_view stop;
};
SlotMonitorHelp SlotMonitorHelpTexts();

}  // namespace ostrivane::platform
