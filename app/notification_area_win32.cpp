#include "app/notification_area_win32.h"

#include <rpc.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "app/notification_area_platform.h"
#include "app/wide_text_win32.h"
#include "support/system_error.h"

namespace ostrivane {
namespace {

constexpr wchar_t kNotificationWindowClass[] = L"TNotificationWindow";
constexpr wchar_t kMenuWindowClass[] = L"TPopupListWindow";
// Menu commands: the entry's index above this, clear of the numbers the
// system and dialog keys use.
constexpr UINT kFirstMenuCommand = 0x100;

UINT g_taskbarCreated = 0;
std::unique_ptr<TNotificationWindow> g_notificationWindow;

void RegisterWindowClass(const wchar_t* name, WNDPROC proc) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = name;
  if (RegisterClassExW(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    throw ESystemError(GetLastError());
  }
}

// A hidden top-level window: a pop-up tool window without size, never
// shown, so that it has no taskbar button and still receives what the
// system sends to top-level windows.
HWND CreateHiddenWindow(const wchar_t* className, void* self) {
  return CreateWindowExW(WS_EX_TOOLWINDOW, className, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                         GetModuleHandleW(nullptr), self);
}

class ShellNotifyIcon final : public IShellNotifyIcon {
 public:
  BOOL NotifyIcon(DWORD message, NOTIFYICONDATAW& data) override {
    return Shell_NotifyIconW(message, &data);
  }
};

struct MenuDeleter {
  void operator()(HMENU menu) const noexcept { DestroyMenu(menu); }
};
using MenuHandle = std::unique_ptr<std::remove_pointer_t<HMENU>, MenuDeleter>;

struct BitmapDeleter {
  void operator()(HBITMAP bitmap) const noexcept { DeleteObject(bitmap); }
};
using BitmapHandle = std::unique_ptr<std::remove_pointer_t<HBITMAP>, BitmapDeleter>;

}  // namespace

// --- the tray module ---------------------------------------------------------

namespace platform {

void InitializeNotificationArea() { g_taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated"); }

void FinalizeNotificationArea() noexcept { TNotificationWindow::DestroyLeft(); }

}  // namespace platform

UINT TaskbarCreatedMessage() noexcept { return g_taskbarCreated; }

// --- the icon record ---------------------------------------------------------

TShellVersion SystemShellVersion() {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (GetVersionExW(&info) == FALSE) return {};
  return {info.dwMajorVersion, info.dwMinorVersion};
}

DWORD NotifyIconDataSize(TShellVersion version) noexcept {
  return version.Vista() ? sizeof(NOTIFYICONDATAW) : NOTIFYICONDATAW_V2_SIZE;
}

NOTIFYICONDATAW MakeNotifyIconData(const TNotifyIconRecord& record, HWND window, HICON icon,
                                   TShellVersion version) noexcept {
  NOTIFYICONDATAW data;
  std::memset(&data, 0, sizeof data);
  data.cbSize = NotifyIconDataSize(version);
  data.hWnd = window;
  // The shell's identities are 32 bits wide; it hands them back whole in
  // the callbacks' wParam.
  data.uID = static_cast<UINT>(record.ID);
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = record.CallbackMessage;
  data.hIcon = icon;
  constexpr std::size_t kTipRoom = sizeof data.szTip / sizeof data.szTip[0];
  const std::size_t length = std::min(record.Tip.size(), kTipRoom - 1);
  std::copy_n(record.Tip.begin(), length, data.szTip);
  data.uVersion = record.Version;
  if (version.Windows7()) {
    data.uFlags |= NIF_GUID;
    data.guidItem.Data1 = record.Guid.D1;
    data.guidItem.Data2 = record.Guid.D2;
    data.guidItem.Data3 = record.Guid.D3;
    std::copy(record.Guid.D4.begin(), record.Guid.D4.end(), data.guidItem.Data4);
  }
  return data;
}

NOTIFYICONDATAW WithBalloon(NOTIFYICONDATAW data, const TBalloonHint& balloon,
                            TShellVersion version) noexcept {
  data.uFlags |= NIF_INFO;
  constexpr std::size_t kTitleRoom = sizeof data.szInfoTitle / sizeof data.szInfoTitle[0];
  constexpr std::size_t kTextRoom = sizeof data.szInfo / sizeof data.szInfo[0];
  std::fill(std::begin(data.szInfoTitle), std::end(data.szInfoTitle), L'\0');
  std::fill(std::begin(data.szInfo), std::end(data.szInfo), L'\0');
  std::copy_n(balloon.Title.begin(), std::min(balloon.Title.size(), kTitleRoom - 1),
              data.szInfoTitle);
  std::copy_n(balloon.Text.begin(), std::min(balloon.Text.size(), kTextRoom - 1), data.szInfo);
  switch (balloon.Icon) {
    case TBalloonIcon::None:
      data.dwInfoFlags = NIIF_NONE;
      break;
    case TBalloonIcon::Info:
      data.dwInfoFlags = NIIF_INFO;
      break;
    case TBalloonIcon::Warning:
      data.dwInfoFlags = NIIF_WARNING;
      break;
    case TBalloonIcon::Error:
      data.dwInfoFlags = NIIF_ERROR;
      break;
  }
  if (version.Windows7()) data.dwInfoFlags |= NIIF_RESPECT_QUIET_TIME;
  return data;
}

DWORD ShellMessage(TNotifyOp op) noexcept {
  switch (op) {
    case TNotifyOp::Add:
      return NIM_ADD;
    case TNotifyOp::Modify:
      return NIM_MODIFY;
    case TNotifyOp::Delete:
      return NIM_DELETE;
    case TNotifyOp::SetVersion:
      return NIM_SETVERSION;
  }
  return NIM_MODIFY;
}

std::optional<TIconMessage> IconMessageFromCallback(LPARAM lParam) noexcept {
  constexpr TIconMessage kKnown[] = {
      TIconMessage::MouseMove,     TIconMessage::LButtonDown,    TIconMessage::LButtonUp,
      TIconMessage::LButtonDblClk, TIconMessage::RButtonDown,    TIconMessage::RButtonUp,
      TIconMessage::MButtonDown,   TIconMessage::MButtonUp,      TIconMessage::BalloonShow,
      TIconMessage::BalloonHide,   TIconMessage::BalloonTimeout, TIconMessage::BalloonUserClick,
  };
  for (const TIconMessage known : kKnown) {
    if (static_cast<LPARAM>(known) == lParam) return known;
  }
  return std::nullopt;
}

const TBitmap32* PictureForSize(const TIconImage& image, int size) noexcept {
  const TBitmap32* larger = nullptr;
  const TBitmap32* largest = nullptr;
  for (const TBitmap32& picture : image.Sizes()) {
    if (picture.Width == size && picture.Height == size) return &picture;
    if (picture.Width > size && (larger == nullptr || picture.Width < larger->Width)) {
      larger = &picture;
    }
    if (largest == nullptr || picture.Width > largest->Width) largest = &picture;
  }
  return larger != nullptr ? larger : largest;
}

IconHandle MakeIconHandle(const TBitmap32& picture) {
  const int width = picture.Width;
  const int height = picture.Height;
  const auto count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (width <= 0 || height <= 0 || picture.Pixels.size() != count) return nullptr;

  // The colours with their alpha, top row first: 0xAARRGGBB words are the
  // blue, green, red, alpha bytes of a 32-bit DIB.
  BITMAPV5HEADER header{};
  header.bV5Size = sizeof header;
  header.bV5Width = width;
  header.bV5Height = -height;
  header.bV5Planes = 1;
  header.bV5BitCount = 32;
  header.bV5Compression = BI_BITFIELDS;
  header.bV5RedMask = 0x00FF0000;
  header.bV5GreenMask = 0x0000FF00;
  header.bV5BlueMask = 0x000000FF;
  header.bV5AlphaMask = 0xFF000000;
  void* bits = nullptr;
  const HDC screen = GetDC(nullptr);
  BitmapHandle colour(CreateDIBSection(screen, reinterpret_cast<const BITMAPINFO*>(&header),
                                       DIB_RGB_COLORS, &bits, nullptr, 0));
  ReleaseDC(nullptr, screen);
  if (!colour || bits == nullptr) return nullptr;
  std::memcpy(bits, picture.Pixels.data(), count * sizeof(std::uint32_t));
  GdiFlush();

  // The mask: set where the picture is fully transparent, for systems that
  // draw without the alpha channel. Rows of whole 16-bit words.
  const int stride = (width + 15) / 16 * 2;
  std::vector<std::uint8_t> maskBits(
      static_cast<std::size_t>(stride) * static_cast<std::size_t>(height), 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if ((picture.At(x, y) >> 24U) == 0) {
        maskBits[static_cast<std::size_t>(y * stride + x / 8)] |=
            static_cast<std::uint8_t>(0x80U >> static_cast<unsigned>(x % 8));
      }
    }
  }
  BitmapHandle mask(CreateBitmap(width, height, 1, 1, maskBits.data()));
  if (!mask) return nullptr;

  ICONINFO info{};
  info.fIcon = TRUE;
  info.hbmMask = mask.get();
  info.hbmColor = colour.get();
  // The icon keeps copies of both bitmaps.
  return IconHandle(CreateIconIndirect(&info));
}

IShellNotifyIcon& DefaultShellNotifyIcon() {
  static ShellNotifyIcon shell;
  return shell;
}

// --- the notification window -------------------------------------------------

TNotificationWindow::TNotificationWindow(Key /*key*/) {
  RegisterWindowClass(kNotificationWindowClass, &WindowProc);
  FHandle = CreateHiddenWindow(kNotificationWindowClass, this);
  if (FHandle == nullptr) throw ESystemError(GetLastError());
}

TNotificationWindow::~TNotificationWindow() {
  const HWND window = FHandle;
  FHandle = nullptr;
  SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  DestroyWindow(window);
}

HWND TNotificationWindow::Attach(UINT id, IconHandler handler) {
  if (!g_notificationWindow) {
    g_notificationWindow = std::make_unique<TNotificationWindow>(Key());
  }
  TNotificationWindow& window = *g_notificationWindow;
  window.icons_.emplace_back(id, std::move(handler));
  ++window.RefCount_;
  return window.FHandle;
}

void TNotificationWindow::Detach(UINT id) noexcept {
  if (!g_notificationWindow) return;
  TNotificationWindow& window = *g_notificationWindow;
  const auto found = std::find_if(window.icons_.begin(), window.icons_.end(),
                                  [id](const auto& entry) { return entry.first == id; });
  if (found == window.icons_.end()) return;
  window.icons_.erase(found);
  if (--window.RefCount_ <= 0) g_notificationWindow.reset();
}

HWND TNotificationWindow::Handle() noexcept {
  return g_notificationWindow ? g_notificationWindow->FHandle : nullptr;
}

int TNotificationWindow::RefCount() noexcept {
  return g_notificationWindow ? g_notificationWindow->RefCount_ : 0;
}

void TNotificationWindow::DestroyLeft() noexcept { g_notificationWindow.reset(); }

LRESULT CALLBACK TNotificationWindow::WindowProc(HWND window, UINT message, WPARAM wParam,
                                                 LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  switch (message) {
    case WM_DESTROY:
    case WM_CLOSE:
    case WM_QUERYENDSESSION:
    case WM_QUIT:
    case WM_ENDSESSION:
    case WM_NCDESTROY:
      // Never closed by anyone but its owner, never in the way of log-off.
      return 1;
    case kTrayCallbackMessage: {
      auto* self = reinterpret_cast<TNotificationWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
      if (self != nullptr) self->HandleIconMessage(wParam, lParam);
      return 0;
    }
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

void TNotificationWindow::HandleIconMessage(WPARAM wParam, LPARAM lParam) {
  const auto message = IconMessageFromCallback(lParam);
  if (!message) return;
  for (const auto& [id, handler] : icons_) {
    if (static_cast<WPARAM>(id) == wParam) {
      // A copy: the handler may count the icon out.
      const IconHandler run = handler;
      run(*message);
      return;
    }
  }
}

// --- the area ----------------------------------------------------------------

Win32NotificationArea::Win32NotificationArea(TWin32Application& application,
                                             IShellNotifyIcon& shell, TShellVersion version)
    : application_(application), shell_(shell), version_(version) {
  RegisterWindowClass(kMenuWindowClass, &MenuWindowProc);
  menuWindow_ = CreateHiddenWindow(kMenuWindowClass, this);
  if (menuWindow_ == nullptr) throw ESystemError(GetLastError());
}

Win32NotificationArea::~Win32NotificationArea() {
  if (icon_ != nullptr) Detach(*icon_);
  SetWindowLongPtrW(menuWindow_, GWLP_USERDATA, 0);
  DestroyWindow(menuWindow_);
}

void Win32NotificationArea::Attach(TNotificationIcon& icon) {
  if (icon_ != nullptr) Detach(*icon_);
  const auto id = static_cast<UINT>(icon.Record().ID);
  TNotificationWindow::Attach(id, [this, &icon](TIconMessage message) {
    application_.Guarded([&] { icon.HandleIconMessage(message); });
  });
  icon_ = &icon;
  iconId_ = id;
  hookId_ = application_.AddMessageHook([&icon](UINT message, WPARAM, LPARAM) {
    if (message != 0 && message == TaskbarCreatedMessage()) icon.HandleAreaCreated();
  });
}

void Win32NotificationArea::Detach(TNotificationIcon& icon) noexcept {
  if (icon_ != &icon) return;
  // The object's image goes, the hook comes off, then the icon is counted
  // out of the notification window.
  shownIcon_.reset();
  shownImage_ = TIconImage();
  menu_ = nullptr;
  shownEntries_.clear();
  application_.RemoveMessageHook(hookId_);
  hookId_ = 0;
  if (iconId_) TNotificationWindow::Detach(*iconId_);
  iconId_.reset();
  icon_ = nullptr;
}

HICON Win32NotificationArea::IconFor(const TIconImage* image) {
  if (image == nullptr || image->Empty()) return nullptr;
  if (shownIcon_ && *image == shownImage_) return shownIcon_.get();
  const TBitmap32* picture = PictureForSize(*image, GetSystemMetrics(SM_CXSMICON));
  IconHandle made = picture != nullptr ? MakeIconHandle(*picture) : nullptr;
  shownIcon_ = std::move(made);
  shownImage_ = shownIcon_ ? *image : TIconImage();
  return shownIcon_.get();
}

bool Win32NotificationArea::Notify(TNotifyOp op, const TNotifyIconRecord& record) {
  NOTIFYICONDATAW data =
      MakeNotifyIconData(record, TNotificationWindow::Handle(), IconFor(record.Icon), version_);
  return shell_.NotifyIcon(ShellMessage(op), data) != FALSE;
}

bool Win32NotificationArea::ShowBalloon(const TNotifyIconRecord& record,
                                        const TBalloonHint& balloon) {
  NOTIFYICONDATAW data = WithBalloon(
      MakeNotifyIconData(record, TNotificationWindow::Handle(), IconFor(record.Icon), version_),
      balloon, version_);
  return shell_.NotifyIcon(NIM_MODIFY, data) != FALSE;
}

TGUID Win32NotificationArea::NewGuid() {
  UUID uuid{};
  const RPC_STATUS status = UuidCreate(&uuid);
  // A GUID unique to this computer only is good enough for an icon.
  if (status != RPC_S_OK && status != RPC_S_UUID_LOCAL_ONLY) return ostrivane::NewGuid();
  TGUID guid;
  guid.D1 = uuid.Data1;
  guid.D2 = uuid.Data2;
  guid.D3 = uuid.Data3;
  std::copy(std::begin(uuid.Data4), std::end(uuid.Data4), guid.D4.begin());
  return guid;
}

std::optional<TPoint> Win32NotificationArea::CursorPos() {
  POINT at{};
  if (GetCursorPos(&at) == FALSE) return std::nullopt;
  return TPoint{at.x, at.y};
}

void Win32NotificationArea::SetForeground() {
  if (const HWND window = TNotificationWindow::Handle()) SetForegroundWindow(window);
}

void Win32NotificationArea::ProcessMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // The message loop's to see.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

UINT Win32NotificationArea::MenuCommand(std::size_t index) noexcept {
  return kFirstMenuCommand + static_cast<UINT>(index);
}

std::optional<std::size_t> Win32NotificationArea::TrackPopupMenu(const TPopupMenu& menu,
                                                                 TPoint at) {
  MenuHandle popup(CreatePopupMenu());
  if (!popup) return std::nullopt;
  shownEntries_.clear();
  for (std::size_t i = 0; i < menu.Count(); ++i) {
    const std::wstring caption = ToWide(menu.Item(i).Caption());
    AppendMenuW(popup.get(), MF_STRING, MenuCommand(i), caption.c_str());
    shownEntries_.push_back(menu.Item(i).Name());
  }
  if (const TMenuItem* item = menu.DefaultItem()) {
    for (std::size_t i = 0; i < menu.Count(); ++i) {
      if (&menu.Item(i) == item) SetMenuDefaultItem(popup.get(), MenuCommand(i), FALSE);
    }
  }
  menu_ = &menu;
  ::TrackPopupMenu(popup.get(), TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.X, at.Y, 0, menuWindow_,
                   nullptr);
  return std::nullopt;
}

void Win32NotificationArea::WakeMainThread() {
  const HWND main = application_.MainWindow();
  PostMessageW(main != nullptr ? main : application_.Handle(), WM_NULL, 0, 0);
}

LRESULT CALLBACK Win32NotificationArea::MenuWindowProc(HWND window, UINT message, WPARAM wParam,
                                                       LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Win32NotificationArea*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_COMMAND && self != nullptr && self->menuWindow_ != nullptr) {
    self->RunMenuCommand(wParam);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void Win32NotificationArea::RunMenuCommand(WPARAM wParam) {
  // A menu's command: notification code 0, the entry's command.
  if (HIWORD(wParam) != 0 || menu_ == nullptr) return;
  const UINT command = LOWORD(wParam);
  if (command < kFirstMenuCommand) return;
  const std::size_t index = command - kFirstMenuCommand;
  if (index >= shownEntries_.size()) return;
  const TMenuItem* item = menu_->Find(shownEntries_[index]);
  if (item == nullptr) return;
  application_.Guarded([item] { item->Click(); });
}

}  // namespace ostrivane
