// The main window's design as a Win32 window with real controls: never
// shown, and owned by the application window, so that it would have no
// taskbar button even if it were.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "app/application_win32.h"
#include "app/main_form.h"
#include "app/notification_area_win32.h"
#include "relay/mailslot.h"

namespace ostrivane {

// The design's pixels are meant at this many pixels per inch; the window
// scales them to the screen's.
inline constexpr int kDesignPixelsPerInch = 96;
// The design's font size, in points.
inline constexpr int kDesignFontPoints = 8;

// A design length in pixels at `pixelsPerInch` (MulDiv's rounding).
int ScaleDesignPixels(int pixels, int pixelsPerInch);
// The design font's height in pixels at `pixelsPerInch`, as CreateFontW
// takes it (negative: the character height).
int DesignFontHeight(int pixelsPerInch);

// An edit box's text.
class Win32EditText : public ITextControl {
 public:
  explicit Win32EditText(HWND edit) : edit_(edit) {}
  [[nodiscard]] std::u16string Text() const override;
  void SetText(std::u16string_view text) override;

 protected:
  HWND edit_;
};

// The log box's text. A multi-line edit box breaks lines only at CR LF, so
// a text's line breaks of any kind (LF, CR, CR LF) are shown as CR LF.
class Win32MemoText final : public Win32EditText {
 public:
  using Win32EditText::Win32EditText;
  void SetText(std::u16string_view text) override;
  [[nodiscard]] bool Visible() const override;
};

// The texts of the window and its controls, by design name, for the
// translation table.
class Win32DesignComponents final : public IDesignComponents {
 public:
  void Add(std::u16string name, std::unique_ptr<ITranslatable> component);
  ITranslatable* Find(std::u16string_view name) override;

 private:
  std::vector<std::pair<std::u16string, std::unique_ptr<ITranslatable>>> components_;
};

class Win32MainWindow {
 public:
  // Creates the window hidden with its controls, then the window's logic
  // (the design loads: log box text, tray icon, translation table). Raises
  // ESystemError when a window cannot be made.
  Win32MainWindow(TWin32Application& application, IUdpPlatform& udp,
                  IMailSlotSystem& mailslots = DefaultMailSlotSystem(),
                  IShellNotifyIcon& shell = DefaultShellNotifyIcon());
  // The window's logic goes first (Destroy, if it has not run), while the
  // controls it writes to exist; then the window with its controls.
  ~Win32MainWindow();
  Win32MainWindow(const Win32MainWindow&) = delete;
  Win32MainWindow& operator=(const Win32MainWindow&) = delete;

  [[nodiscard]] HWND Handle() const noexcept { return window_; }
  // The control of that design name, or null.
  [[nodiscard]] HWND Control(std::u16string_view name) const;
  [[nodiscard]] TMainForm& Form() noexcept { return *form_; }
  [[nodiscard]] Win32NotificationArea& NotificationArea() noexcept { return area_; }
  [[nodiscard]] IDesignComponents& Design() noexcept { return design_; }

  // The window's font, which its controls share; changing it gives the
  // controls the new one.
  [[nodiscard]] LOGFONTW Font() const;
  void SetFont(const LOGFONTW& font);

 private:
  struct FontDeleter {
    void operator()(HFONT font) const noexcept { DeleteObject(font); }
  };
  using FontHandle = std::unique_ptr<std::remove_pointer_t<HFONT>, FontDeleter>;

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // The log box's own procedure in front of the edit box's: a message to
  // the edit box may show or read its text, so the log box hands a kept
  // text over first.
  static LRESULT CALLBACK LogBoxProc(HWND memo, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void CreateControls(int pixelsPerInch);
  void CreateForm(IUdpPlatform& udp, IMailSlotSystem& mailslots);

  TWin32Application& application_;
  HWND window_ = nullptr;
  FontHandle font_;
  std::vector<std::pair<std::u16string, HWND>> controls_;
  std::unique_ptr<Win32EditText> actionText_;
  std::unique_ptr<Win32EditText> param1Text_;
  std::unique_ptr<Win32EditText> param2Text_;
  std::unique_ptr<Win32MemoText> memoText_;
  std::unique_ptr<TLogBox> logBox_;
  WNDPROC memoProc_ = nullptr;  // the edit box's own procedure
  Win32DesignComponents design_;
  Win32NotificationArea area_;
  std::unique_ptr<TMainForm> form_;
};

}  // namespace ostrivane
