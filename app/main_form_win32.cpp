#include "app/main_form_win32.h"

#include <algorithm>

#include "app/wide_text_win32.h"
#include "support/system_error.h"

namespace ostrivane {
namespace {

constexpr wchar_t kMainFormClass[] = L"TMainForm";

// The design: the controls in creation order, which is also the order the
// tab key visits those that take focus. Positions and sizes in design
// pixels (left, top, width, height).
struct ControlDesign {
  const char16_t* Name;
  const wchar_t* Class;
  DWORD Style;
  DWORD ExStyle;
  const wchar_t* Text;
  int Left, Top, Width, Height;
};

constexpr DWORD kLabel = SS_LEFT;
constexpr DWORD kEdit = WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
constexpr DWORD kButton = WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kMemo =
    WS_TABSTOP | WS_VSCROLL | ES_LEFT | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;

constexpr ControlDesign kControls[] = {
    {u"TntLabel1", L"STATIC", kLabel, 0, L"Action:", 8, 32, 34, 13},
    {u"edAction", L"EDIT", kEdit, WS_EX_CLIENTEDGE, L"", 56, 24, 369, 21},
    {u"TntLabel2", L"STATIC", kLabel, 0, L"Param1:", 8, 64, 40, 13},
    {u"edParam1", L"EDIT", kEdit, WS_EX_CLIENTEDGE, L"", 56, 56, 369, 21},
    {u"TntLabel3", L"STATIC", kLabel, 0, L"Param2:", 8, 96, 40, 13},
    {u"edParam2", L"EDIT", kEdit, WS_EX_CLIENTEDGE, L"", 56, 88, 369, 21},
    {u"TntButton1", L"BUTTON", kButton, 0, L"Send", 440, 85, 75, 25},
    // The log box; its text "Memo1" comes with the window's design data.
    {u"Memo1", L"EDIT", kMemo, WS_EX_CLIENTEDGE, L"", 176, 128, 313, 201},
};

// Child window identifiers: clear of IDOK and IDCANCEL, which the dialog
// keys send.
constexpr int kFirstControlId = 100;
constexpr int kSendButtonId = kFirstControlId + 6;

constexpr int kClientWidth = 690;
constexpr int kClientHeight = 420;
constexpr DWORD kWindowStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT;

std::wstring WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
  return text;
}

void SetWindowTextTo(HWND window, std::u16string_view text) {
  const std::wstring wide = ToWide(text);
  SetWindowTextW(window, wide.c_str());
}

int ScreenPixelsPerInch() {
  const HDC screen = GetDC(nullptr);
  if (screen == nullptr) return kDesignPixelsPerInch;
  const int perInch = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return perInch > 0 ? perInch : kDesignPixelsPerInch;
}

// The caption of a label or a button.
class Win32Caption final : public ITranslatable {
 public:
  explicit Win32Caption(HWND control) : control_(control) {}
  [[nodiscard]] std::optional<std::u16string> GetText(TTextProperty property) const override {
    if (property != TTextProperty::Caption) return std::nullopt;
    return FromWide(WindowText(control_));
  }
  void SetText(TTextProperty property, std::u16string_view text) override {
    if (property == TTextProperty::Caption) SetWindowTextTo(control_, text);
  }
  [[nodiscard]] bool ParentFont() const override { return true; }

 private:
  HWND control_;
};

// The window's caption and font.
class Win32WindowTexts final : public ITranslatable {
 public:
  explicit Win32WindowTexts(Win32MainWindow& window) : window_(window) {}
  [[nodiscard]] std::optional<std::u16string> GetText(TTextProperty property) const override {
    switch (property) {
      case TTextProperty::Caption:
        return FromWide(WindowText(window_.Handle()));
      case TTextProperty::FontName:
        return FromWide(window_.Font().lfFaceName);
      default:
        return std::nullopt;
    }
  }
  void SetText(TTextProperty property, std::u16string_view text) override {
    if (property == TTextProperty::Caption) {
      SetWindowTextTo(window_.Handle(), text);
    } else if (property == TTextProperty::FontName) {
      LOGFONTW font = window_.Font();
      // The face name field holds 31 characters and the terminating zero.
      const std::size_t length = std::min<std::size_t>(text.size(), LF_FACESIZE - 1);
      std::copy_n(text.begin(), length, font.lfFaceName);
      font.lfFaceName[length] = L'\0';
      window_.SetFont(font);
    }
  }
  [[nodiscard]] std::optional<int> FontCharset() const override { return window_.Font().lfCharSet; }
  void SetFontCharset(int charset) override {
    LOGFONTW font = window_.Font();
    font.lfCharSet = static_cast<BYTE>(charset);
    window_.SetFont(font);
  }

 private:
  Win32MainWindow& window_;
};

// The log box's lines, as one text, through the log box.
class Win32MemoLines final : public ITranslatable {
 public:
  explicit Win32MemoLines(ITextControl& memo) : memo_(memo) {}
  [[nodiscard]] std::optional<std::u16string> GetText(TTextProperty property) const override {
    if (property != TTextProperty::Lines) return std::nullopt;
    return memo_.Text();
  }
  void SetText(TTextProperty property, std::u16string_view text) override {
    if (property == TTextProperty::Lines) memo_.SetText(text);
  }
  [[nodiscard]] bool ParentFont() const override { return true; }

 private:
  ITextControl& memo_;
};

void RegisterMainFormClass(HINSTANCE instance, WNDPROC proc) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(instance, L"MAINICON");
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  // The dialog face.
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  wc.lpszClassName = kMainFormClass;
  if (RegisterClassExW(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    throw ESystemError(GetLastError());
  }
}

}  // namespace

int ScaleDesignPixels(int pixels, int pixelsPerInch) {
  return MulDiv(pixels, pixelsPerInch, kDesignPixelsPerInch);
}

int DesignFontHeight(int pixelsPerInch) {
  constexpr int kPointsPerInch = 72;
  return -MulDiv(kDesignFontPoints, pixelsPerInch, kPointsPerInch);
}

std::u16string Win32EditText::Text() const { return FromWide(WindowText(edit_)); }

void Win32EditText::SetText(std::u16string_view text) { SetWindowTextTo(edit_, text); }

void Win32MemoText::SetText(std::u16string_view text) {
  std::u16string shown;
  shown.reserve(text.size() + text.size() / 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\r' || c == u'\n') {
      shown += u"\r\n";
      if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    } else {
      shown.push_back(c);
    }
  }
  SetWindowTextTo(edit_, shown);
}

bool Win32MemoText::Visible() const { return IsWindowVisible(edit_) != FALSE; }

void Win32DesignComponents::Add(std::u16string name, std::unique_ptr<ITranslatable> component) {
  components_.emplace_back(std::move(name), std::move(component));
}

ITranslatable* Win32DesignComponents::Find(std::u16string_view name) {
  for (auto& [n, component] : components_) {
    if (n == name) return component.get();
  }
  return nullptr;
}

Win32MainWindow::Win32MainWindow(TWin32Application& application, IUdpPlatform& udp,
                                 IMailSlotSystem& mailslots, IShellNotifyIcon& shell)
    : application_(application), area_(application, shell) {
  const HINSTANCE instance = application_.Instance();
  RegisterMainFormClass(instance, &WindowProc);
  const int perInch = ScreenPixelsPerInch();
  RECT frame{0, 0, ScaleDesignPixels(kClientWidth, perInch),
             ScaleDesignPixels(kClientHeight, perInch)};
  AdjustWindowRectEx(&frame, kWindowStyle, FALSE, kWindowExStyle);
  // Owned by the application window: an owned window has no taskbar
  // button. Never shown.
  window_ =
      CreateWindowExW(kWindowExStyle, kMainFormClass, L"MainForm", kWindowStyle, CW_USEDEFAULT,
                      CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                      application_.Handle(), nullptr, instance, this);
  if (window_ == nullptr) throw ESystemError(GetLastError());
  try {
    CreateControls(perInch);
    CreateForm(udp, mailslots);
  } catch (...) {
    form_.reset();
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
    throw;
  }
  application_.SetMainWindow(window_);
}

void Win32MainWindow::CreateForm(IUdpPlatform& udp, IMailSlotSystem& mailslots) {
  actionText_ = std::make_unique<Win32EditText>(Control(u"edAction"));
  param1Text_ = std::make_unique<Win32EditText>(Control(u"edParam1"));
  param2Text_ = std::make_unique<Win32EditText>(Control(u"edParam2"));
  const HWND memo = Control(u"Memo1");
  memoText_ = std::make_unique<Win32MemoText>(memo);
  logBox_ = std::make_unique<TLogBox>(*memoText_);
  // The window's pointer first: the log box's procedure finds it there.
  SetWindowLongPtrW(memo, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  memoProc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(memo, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&LogBoxProc)));
  design_.Add(u"TMainForm", std::make_unique<Win32WindowTexts>(*this));
  for (const char16_t* caption : {u"TntLabel1", u"TntLabel2", u"TntLabel3", u"TntButton1"}) {
    design_.Add(caption, std::make_unique<Win32Caption>(Control(caption)));
  }
  design_.Add(u"Memo1", std::make_unique<Win32MemoLines>(*logBox_));
  form_ = std::make_unique<TMainForm>(
      TMainForm::Controls{*actionText_, *param1Text_, *param2Text_, *logBox_, design_, area_},
      application_, udp, mailslots);
}

void Win32MainWindow::CreateControls(int perInch) {
  LOGFONTW font{};
  font.lfHeight = DesignFontHeight(perInch);
  font.lfWeight = FW_NORMAL;
  font.lfCharSet = DEFAULT_CHARSET;
  const std::wstring_view face = L"MS Shell Dlg 2";
  face.copy(font.lfFaceName, face.size());
  SetFont(font);

  int id = kFirstControlId;
  for (const ControlDesign& design : kControls) {
    const HWND control = CreateWindowExW(
        design.ExStyle, design.Class, design.Text, WS_CHILD | WS_VISIBLE | design.Style,
        ScaleDesignPixels(design.Left, perInch), ScaleDesignPixels(design.Top, perInch),
        ScaleDesignPixels(design.Width, perInch), ScaleDesignPixels(design.Height, perInch),
        window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), application_.Instance(),
        nullptr);
    if (control == nullptr) throw ESystemError(GetLastError());
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    controls_.emplace_back(design.Name, control);
    ++id;
  }
  // No length limit on what the log box is given.
  SendMessageW(Control(u"Memo1"), EM_SETLIMITTEXT, 0, 0);
}

Win32MainWindow::~Win32MainWindow() {
  form_.reset();
  if (application_.MainWindow() == window_) application_.SetMainWindow(nullptr);
  SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  DestroyWindow(window_);
}

HWND Win32MainWindow::Control(std::u16string_view name) const {
  for (const auto& [n, control] : controls_) {
    if (n == name) return control;
  }
  return nullptr;
}

LOGFONTW Win32MainWindow::Font() const {
  LOGFONTW font{};
  if (font_) GetObjectW(font_.get(), sizeof font, &font);
  return font;
}

void Win32MainWindow::SetFont(const LOGFONTW& font) {
  FontHandle replacement(CreateFontIndirectW(&font));
  if (!replacement) throw ESystemError(GetLastError());
  // The controls let go of the old font before it is deleted.
  for (const auto& [name, control] : controls_) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(replacement.get()), FALSE);
  }
  font_ = std::move(replacement);
}

LRESULT CALLBACK Win32MainWindow::WindowProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Win32MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr || self->window_ == nullptr) {
    return DefWindowProcW(window, message, wParam, lParam);
  }
  return self->HandleMessage(message, wParam, lParam);
}

LRESULT CALLBACK Win32MainWindow::LogBoxProc(HWND memo, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  const auto* self =
      reinterpret_cast<const Win32MainWindow*>(GetWindowLongPtrW(memo, GWLP_USERDATA));
  switch (message) {
    case WM_SETTEXT:
      // Replaced: a kept text is no longer the last one.
      self->logBox_->Forget();
      break;
    case WM_DESTROY:
    case WM_NCDESTROY:
      // Going, unseen and unread.
      break;
    default:
      self->logBox_->Realize();
      break;
  }
  return CallWindowProcW(self->memoProc_, memo, message, wParam, lParam);
}

LRESULT Win32MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == kSendButtonId && HIWORD(wParam) == BN_CLICKED && form_) {
        application_.Guarded([this] { form_->TntButton1Click(); });
      }
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(font_.get());
    case WM_CLOSE:
      // Closing the main window ends the message loop; the window and its
      // controls stay until the program's shutdown has run.
      application_.EndLoop();
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      if (wParam != FALSE) application_.EndSession();
      return 0;
    default:
      return DefWindowProcW(window_, message, wParam, lParam);
  }
}

}  // namespace ostrivane
