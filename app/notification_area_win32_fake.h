// A shell for the Windows notification area's tests: it records every
// Shell_NotifyIconW call with the record it was given, and answers as told.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "app/notification_area_win32.h"

namespace ostrivane::testutil {

class RecordingShell final : public IShellNotifyIcon {
 public:
  struct Call {
    DWORD message;
    NOTIFYICONDATAW data;
  };

  BOOL NotifyIcon(DWORD message, NOTIFYICONDATAW& data) override {
    calls.push_back({message, data});
    return answer ? answer(message) : TRUE;
  }

  [[nodiscard]] std::vector<DWORD> Messages() const {
    std::vector<DWORD> messages;
    for (const Call& call : calls) messages.push_back(call.message);
    return messages;
  }

  std::vector<Call> calls;
  // The shell's answer to a message; TRUE when not set.
  std::function<BOOL(DWORD)> answer;
};

}  // namespace ostrivane::testutil
