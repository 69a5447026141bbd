#include "relay/lv_sync.h"

#include <utility>

#include "relay/mailslot.h"
#include "support/ansi.h"
#include "support/main_thread.h"

namespace ostrivane {

IRelayTarget* MainForm = nullptr;

TLVSyncClass::TLVSyncClass(std::u16string ALine) : FCmd(std::move(ALine)) {}

std::u16string TLVSyncClass::Update(std::u16string ALine) {
  TLVSyncClass sync(std::move(ALine));
  sync.Synchronize();
  return sync.FResult;
}

void TLVSyncClass::Synchronize() {
  MainThread::Synchronize([this] { Deliver(); });
}

void TLVSyncClass::Deliver() {
  FResult = u"OK";
  if (MainForm == nullptr) return;
  // The 8-bit text is made before the log box is given the command, so that
  // the command can move into the log box, which keeps it: no copy.
  const std::string ansi = ToAnsi(FCmd);
  MainForm->ShowInLogBox(std::move(FCmd));
  // After the window has let go of its writer (shutdown), the command is
  // shown but not written.
  if (TMailSlotWriter* writer = MainForm->Messenger()) writer->WriteString(ansi);
}

}  // namespace ostrivane
