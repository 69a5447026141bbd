// The notification area on Windows: the shell's notification area
// (Shell_NotifyIconW), the one hidden window per process that the shell
// reports the icons' mouse actions to, the "TaskbarCreated" broadcast that
// brings an icon back after the shell restarted, and the icon's menu.
#pragma once

#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "app/application_win32.h"
#include "app/notification_icon.h"

namespace ostrivane {

// The number of the registered message "TaskbarCreated"; 0 until the tray
// module has initialised (platform::InitializeNotificationArea).
UINT TaskbarCreatedMessage() noexcept;

// The system's version, as far as the icon record depends on it.
struct TShellVersion {
  DWORD Major = 0;
  DWORD Minor = 0;
  [[nodiscard]] bool AtLeast(DWORD major, DWORD minor) const noexcept {
    return Major > major || (Major == major && Minor >= minor);
  }
  // Windows Vista: the record with guidItem and hBalloonIcon.
  [[nodiscard]] bool Vista() const noexcept { return AtLeast(6, 0); }
  // Windows 7: icons are known by GUID.
  [[nodiscard]] bool Windows7() const noexcept { return AtLeast(6, 1); }
};

// The version of the running system.
TShellVersion SystemShellVersion();

// The icon record's cbSize: the whole record from Windows Vista on, the
// record without guidItem and hBalloonIcon before.
DWORD NotifyIconDataSize(TShellVersion version) noexcept;

// The icon record the shell is given: `record` filled into a cleared
// NOTIFYICONDATAW for the window `window` with the image `icon` (0 when
// there is none). The tip is cut to what the field holds.
NOTIFYICONDATAW MakeNotifyIconData(const TNotifyIconRecord& record, HWND window, HICON icon,
                                   TShellVersion version) noexcept;

// The icon record with a balloon: `data` as MakeNotifyIconData made it,
// with NIF_INFO, the balloon's title and text, and its icon; from Windows 7
// on the balloon respects the user's quiet time (NIIF_RESPECT_QUIET_TIME).
// Sent with NIM_MODIFY.
NOTIFYICONDATAW WithBalloon(NOTIFYICONDATAW data, const TBalloonHint& balloon,
                            TShellVersion version) noexcept;

// The shell message for an operation: NIM_ADD, NIM_MODIFY, NIM_DELETE,
// NIM_SETVERSION.
DWORD ShellMessage(TNotifyOp op) noexcept;

// The mouse message a callback of protocol version 0 carries in lParam, if
// it is one an icon acts on.
std::optional<TIconMessage> IconMessageFromCallback(LPARAM lParam) noexcept;

struct IconDeleter {
  void operator()(HICON icon) const noexcept { DestroyIcon(icon); }
};
using IconHandle = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;

// The picture of `image` that suits a `size` × `size` place: that size, or
// the smallest larger one, or the largest; null for an empty image.
const TBitmap32* PictureForSize(const TIconImage& image, int size) noexcept;

// An icon handle of `picture` in 32-bit colour with its alpha channel;
// null when the system cannot make one.
IconHandle MakeIconHandle(const TBitmap32& picture);

// The shell's Shell_NotifyIconW. An interface so that tests can see what
// the shell is told.
class IShellNotifyIcon {
 public:
  virtual ~IShellNotifyIcon() = default;
  virtual BOOL NotifyIcon(DWORD message, NOTIFYICONDATAW& data) = 0;
};

// Shell_NotifyIconW itself.
IShellNotifyIcon& DefaultShellNotifyIcon();

// The notification window: one hidden top-level window per process
// (WS_POPUP, WS_EX_TOOLWINDOW, no size, never shown) that the shell sends
// the icons' callbacks to. The first icon creates it, every icon is
// counted, and the window goes with the last one.
class TNotificationWindow {
 public:
  using IconHandler = std::function<void(TIconMessage)>;

  // Counts in the icon known to the shell by `id`, creating the window for
  // the first one; the window then hands that icon's callbacks to
  // `handler`. Answers the window. Raises ESystemError when the window
  // cannot be made.
  static HWND Attach(UINT id, IconHandler handler);
  // Counts the icon out; the window is destroyed with the last one.
  static void Detach(UINT id) noexcept;
  // The window, or null while there is none.
  [[nodiscard]] static HWND Handle() noexcept;
  // The number of icons counted in.
  [[nodiscard]] static int RefCount() noexcept;
  // The tray module's end: destroys the window if one is left.
  static void DestroyLeft() noexcept;

  // Only Attach makes one.
  class Key {
    friend class TNotificationWindow;
    Key() = default;
  };
  explicit TNotificationWindow(Key key);
  TNotificationWindow(const TNotificationWindow&) = delete;
  TNotificationWindow& operator=(const TNotificationWindow&) = delete;
  ~TNotificationWindow();

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void HandleIconMessage(WPARAM wParam, LPARAM lParam);

  HWND FHandle = nullptr;
  int RefCount_ = 0;
  std::vector<std::pair<UINT, IconHandler>> icons_;
};

// The notification area of one main window: it hands its icon's records to
// the shell, routes the icon's callbacks and the "TaskbarCreated" broadcast
// (through a hook on the application window) to the icon, and shows the
// icon's menu, owned by a hidden window of its own that runs the chosen
// entry's handler when the menu's command arrives.
class Win32NotificationArea final : public INotificationArea {
 public:
  // Raises ESystemError when the menu's window cannot be made.
  explicit Win32NotificationArea(TWin32Application& application,
                                 IShellNotifyIcon& shell = DefaultShellNotifyIcon(),
                                 TShellVersion version = SystemShellVersion());
  ~Win32NotificationArea() override;
  Win32NotificationArea(const Win32NotificationArea&) = delete;
  Win32NotificationArea& operator=(const Win32NotificationArea&) = delete;

  void Attach(TNotificationIcon& icon) override;
  void Detach(TNotificationIcon& icon) noexcept override;
  bool Notify(TNotifyOp op, const TNotifyIconRecord& record) override;
  [[nodiscard]] bool UsesGuid() const override { return version_.Windows7(); }
  // UuidCreate.
  TGUID NewGuid() override;
  std::optional<TPoint> CursorPos() override;
  // The notification window comes to the foreground, so that the menu
  // closes when the user clicks elsewhere.
  void SetForeground() override;
  void ProcessMessages() override;
  // TrackPopupMenu, owned by the menu window. The chosen entry's command
  // reaches that window as WM_COMMAND, which runs the entry's handler from
  // the message loop: answers nullopt.
  std::optional<std::size_t> TrackPopupMenu(const TPopupMenu& menu, TPoint at) override;
  // PostMessageW(main window, WM_NULL).
  void WakeMainThread() override;
  // NIM_MODIFY with the balloon (WithBalloon).
  bool ShowBalloon(const TNotifyIconRecord& record, const TBalloonHint& balloon) override;

  // The hidden window that owns the menu.
  [[nodiscard]] HWND MenuWindow() const noexcept { return menuWindow_; }
  // The menu's command for the entry at `index`.
  static UINT MenuCommand(std::size_t index) noexcept;

 private:
  static LRESULT CALLBACK MenuWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void RunMenuCommand(WPARAM wParam);
  HICON IconFor(const TIconImage* image);

  TWin32Application& application_;
  IShellNotifyIcon& shell_;
  TShellVersion version_;
  HWND menuWindow_ = nullptr;
  TNotificationIcon* icon_ = nullptr;
  std::optional<UINT> iconId_;
  int hookId_ = 0;
  // The menu last shown, until its command has come or its icon went, and
  // the names of its entries as shown: the command runs the entry of that
  // name, even when the menu changed in the meantime.
  const TPopupMenu* menu_ = nullptr;
  std::vector<std::u16string> shownEntries_;
  // The image last handed to the shell, and its handle.
  TIconImage shownImage_;
  IconHandle shownIcon_;
};

}  // namespace ostrivane
