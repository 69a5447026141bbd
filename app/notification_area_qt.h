// The notification area on Linux: Qt's system tray icon, which speaks the
// StatusNotifierItem protocol where a host is registered on the session bus
// and docks into the X11 tray otherwise. Qt re-docks the icon by itself
// when the tray host restarts or starts after the program.
//
// Qt makes that choice once per process, when it first makes a tray icon.
// An icon docked in an X11 tray is made anew when a StatusNotifierWatcher
// comes onto the bus later: it then docks again, and a tray that hands X11
// icons on to the watcher (KDE's xembedsniproxy, whose first try found no
// watcher and is never repeated) shows it.
//
// The icon's menu is Qt's context menu of the icon, so that it is also
// exported on the bus (com.canonical.dbusmenu) for hosts that show only an
// exported menu. Who opens it depends on the host:
// - an X11 tray: Qt itself, at the pointer, when the right button goes down,
//   just before it reports the press; the press then only follows that menu;
// - a StatusNotifierItem host that asks the item for its menu (ContextMenu):
//   this area, at the pointer, on the press that Qt reports for the call,
//   from the event loop once the call is answered;
// - a host that shows the exported menu itself: the host; a chosen entry
//   comes back as a trigger of its action, which runs the entry.
// In every case one menu is open at a time. While the icon waits for the
// menu it opened (TrackPopupMenu), a chosen entry is answered to it, and
// the icon runs the entry.
#pragma once

#include <QDBusServiceWatcher>
#include <QMenu>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>
#include <optional>

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
  // QSystemTrayIcon::showMessage: a notification where the desktop has a
  // notification service, the tray's own balloon otherwise.
  bool ShowBalloon(const TNotifyIconRecord& record, const TBalloonHint& balloon) override;

  // Makes `menu` the icon's menu: an action per entry with the entry's
  // caption, whose trigger runs the entry's handler. The actions follow the
  // entries' captions. Null takes the entries away; the menu must outlive
  // its export.
  void ExportMenu(TPopupMenu* menu);

  // A StatusNotifierWatcher came onto the session bus: an icon docked in
  // an X11 tray is made anew. An icon on the bus registers again by itself.
  void TrayWatcherAppeared();
  // Makes the Qt icon anew, with the same image, hint and menu, shown if
  // the old one was.
  void RemakeTrayIcon();

  // For tests: the Qt icon, or null without a tray; the icon's menu.
  [[nodiscard]] QSystemTrayIcon* TrayIcon() const noexcept { return tray_.get(); }
  [[nodiscard]] QMenu& ContextMenu() const noexcept { return *contextMenu_; }

 private:
  void MakeTrayIcon();
  void Apply(const TNotifyIconRecord& record);
  void Activated(QSystemTrayIcon::ActivationReason reason);
  void Rebuild();
  void Triggered(std::size_t index);
  // A menu that is not the exported one, shown by itself.
  static std::optional<std::size_t> TrackMenuOfItsOwn(const TPopupMenu& menu, TPoint at);

  // Declared before the icon, which refers to it until it goes.
  std::unique_ptr<QMenu> contextMenu_;
  std::unique_ptr<QSystemTrayIcon> tray_;
  std::unique_ptr<QDBusServiceWatcher> trayWatcher_;
  std::function<void(TIconMessage)> handler_;
  TIconImage shownImage_;
  TPopupMenu* exported_ = nullptr;
  // While the icon handles a right button press: Qt opened the menu for it.
  bool pressOpenedMenu_ = false;
  // While TrackPopupMenu waits for the icon's menu: what was chosen in it.
  bool tracking_ = false;
  std::optional<std::size_t> chosen_;
};

// The icon's pictures as a QIcon, one pixmap per size.
QIcon ToQIcon(const TIconImage& image);

}  // namespace ostrivane
