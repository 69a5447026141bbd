// The notification area on Windows, as far as it goes for now: the shell's
// notification area (Shell_NotifyIconW, the hidden callback window, the
// "TaskbarCreated" broadcast, the menu) plugs in here. Until it does, the
// main window's tray icon talks to an area that shows nothing: every request
// is refused and no menu opens.
#pragma once

#include "app/notification_icon.h"

namespace ostrivane {

class Win32NotificationArea final : public INotificationArea {
 public:
  bool Notify(TNotifyOp op, const TNotifyIconRecord& record) override;
  [[nodiscard]] bool UsesGuid() const override;
  std::optional<TPoint> CursorPos() override;
  void SetForeground() override;
  void ProcessMessages() override;
  std::optional<std::size_t> TrackPopupMenu(const TPopupMenu& menu, TPoint at) override;
  void WakeMainThread() override;
};

}  // namespace ostrivane
