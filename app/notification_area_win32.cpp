#include "app/notification_area_win32.h"

namespace ostrivane {

// No shell area yet: the icon is refused, which the tray icon takes in its
// stride (it never looks at the answer).
bool Win32NotificationArea::Notify(TNotifyOp /*op*/, const TNotifyIconRecord& /*record*/) {
  return false;
}

bool Win32NotificationArea::UsesGuid() const { return false; }

// Without an icon there is no place to open the menu at.
std::optional<TPoint> Win32NotificationArea::CursorPos() { return std::nullopt; }

void Win32NotificationArea::SetForeground() {}

void Win32NotificationArea::ProcessMessages() {}

std::optional<std::size_t> Win32NotificationArea::TrackPopupMenu(const TPopupMenu& /*menu*/,
                                                                 TPoint /*at*/) {
  return std::nullopt;
}

void Win32NotificationArea::WakeMainThread() {}

}  // namespace ostrivane
