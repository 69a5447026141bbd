// The notification area on Linux: Qt's system tray icon, which speaks the
// StatusNotifierItem protocol where a host is registered on the session bus
// and docks into the X11 tray otherwise. Qt re-docks the icon by itself
// when the tray host restarts or starts after the program.
#pragma once

#include <QSystemTrayIcon>
#include <functional>
#include <memory>

#include "app/notification_icon.h"

namespace ostrivane {

class QtNotificationArea final : public INotificationArea {
 public:
  // `withTray`: false where there is no display; the area then shows nothing.
  explicit QtNotificationArea(bool withTray);
  ~QtNotificationArea() override;
  QtNotificationArea(const QtNotificationArea&) = delete;
  QtNotificationArea& operator=(const QtNotificationArea&) = delete;

  // Where the mouse actions on the icon go.
  void SetIconHandler(std::function<void(TIconMessage)> handler) { handler_ = std::move(handler); }

  // The Qt icon reports to the handler that the main window sets, and Qt
  // re-docks the icon by itself: nothing to count or route here.
  void Attach(TNotificationIcon& /*icon*/) override {}
  void Detach(TNotificationIcon& /*icon*/) noexcept override {}
  bool Notify(TNotifyOp op, const TNotifyIconRecord& record) override;
  [[nodiscard]] bool UsesGuid() const override { return false; }
  TGUID NewGuid() override { return ostrivane::NewGuid(); }
  std::optional<TPoint> CursorPos() override;
  void SetForeground() override {}  // a Qt menu grabs the pointer by itself
  void ProcessMessages() override;
  std::optional<std::size_t> TrackPopupMenu(const TPopupMenu& menu, TPoint at) override;
  void WakeMainThread() override {}  // the event loop needs no wake-up here

  // For tests: the Qt icon, or null without a tray.
  [[nodiscard]] QSystemTrayIcon* TrayIcon() const noexcept { return tray_.get(); }

 private:
  void Apply(const TNotifyIconRecord& record);

  std::unique_ptr<QSystemTrayIcon> tray_;
  std::function<void(TIconMessage)> handler_;
  TIconImage shownImage_;
};

// The icon's pictures as a QIcon, one pixmap per size.
QIcon ToQIcon(const TIconImage& image);

}  // namespace ostrivane
