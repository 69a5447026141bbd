// The hand-off of one remote command to the main thread, where it is shown
// in the log box and written to the presentation application's mailslot.
#pragma once

#include <string>
#include <string_view>

namespace ostrivane {

class TMailSlotWriter;

// What the relay reaches on the main window, on the main thread only.
class IRelayTarget {
 public:
  virtual ~IRelayTarget() = default;
  // Makes `text` the log box's whole text; the log box may keep it.
  virtual void ShowInLogBox(std::u16string text) = 0;
  // The window's mailslot writer; null once the window has released it.
  virtual TMailSlotWriter* Messenger() noexcept = 0;
};

// The one main window, while it exists.
extern IRelayTarget* MainForm;

class TLVSyncClass {
 public:
  explicit TLVSyncClass(std::u16string ALine);
  virtual ~TLVSyncClass() = default;
  TLVSyncClass(const TLVSyncClass&) = delete;
  TLVSyncClass& operator=(const TLVSyncClass&) = delete;

  // Delivers `ALine` on the main thread (blocking a caller on any other
  // thread until it has been delivered) and returns the hand-off's result.
  static std::u16string Update(std::u16string ALine);

  // Runs Deliver on the main thread and returns when it has finished.
  void Synchronize();

 protected:
  // The main-thread step.
  virtual void Deliver();

  std::u16string FCmd;
  std::u16string FResult;
};

}  // namespace ostrivane
