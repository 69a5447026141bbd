#include "app/application_win32.h"

#include <algorithm>
#include <span>
#include <stdexcept>

#include "app/exception_report.h"
#include "app/wide_text_win32.h"
#include "relay/mailslot_platform.h"
#include "support/main_thread.h"
#include "support/program_file_win32.h"
#include "support/system_error.h"
#include "support/utf8.h"

namespace ostrivane {
namespace {

constexpr wchar_t kApplicationClass[] = L"TApplication";

void RegisterApplicationClass(HINSTANCE instance, WNDPROC proc) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.lpszClassName = kApplicationClass;
  if (RegisterClassExW(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    throw ESystemError(GetLastError());
  }
}

}  // namespace

std::wstring ProgramApplicationTitle() {
  return WideFromUtf8(ApplicationTitle(Utf16ToUtf8(FromWide(ProgramFileName()))));
}

void ShowExceptionReport(const std::wstring& title, const std::exception& e) {
  const std::wstring text = WideFromUtf8(ExceptionReportText(e.what()));
  MessageBoxW(nullptr, text.c_str(), title.c_str(), MB_OK | MB_ICONERROR);
}

std::wstring WideFromUtf8(std::string_view text) {
  const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  if (auto utf16 = Utf8ToUtf16(bytes)) return ToWide(*utf16);
  if (text.size() > 0x7FFFFFFF) return {};
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(std::max(length, 0)), L'\0');
  if (length > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), length);
  return wide;
}

TWin32Application::TWin32Application(HINSTANCE instance) : instance_(instance) {
  MainThread::Attach();
  title_ = ProgramApplicationTitle();
  RegisterApplicationClass(instance_, &WindowProc);
  // Hidden, without size, and a tool window: no taskbar button even if it
  // were shown. Top-level rather than message-only, so that it receives the
  // broadcasts that the system sends to top-level windows.
  window_ =
      CreateWindowExW(WS_EX_TOOLWINDOW, kApplicationClass, title_.c_str(),
                      WS_POPUP | WS_CLIPSIBLINGS, 0, 0, 0, 0, nullptr, nullptr, instance_, this);
  if (window_ == nullptr) throw ESystemError(GetLastError());
  const HWND target = window_;
  MainThread::SetWakeUp([target] { PostMessageW(target, WM_NULL, 0, 0); });
}

TWin32Application::~TWin32Application() {
  MainThread::SetWakeUp({});
  // From here on the window answers by default.
  SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  DestroyWindow(window_);
}

LRESULT CALLBACK TWin32Application::WindowProc(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<TWin32Application*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr || self->window_ == nullptr) {
    return DefWindowProcW(window, message, wParam, lParam);
  }
  return self->HandleMessage(message, wParam, lParam);
}

LRESULT TWin32Application::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (!hooks_.empty()) {
    // A copy: a hook may add or remove hooks.
    const auto hooks = hooks_;
    for (const auto& [id, hook] : hooks) Guarded([&] { hook(message, wParam, lParam); });
  }
  switch (message) {
    case WM_NULL:
      // The rendezvous' wake-up.
      MainThread::CheckSynchronize();
      return 0;
    case WM_CLOSE:
      // Asked to close (for instance by a task manager): the program ends
      // the way it does when its main window is closed.
      Guarded([this] { Terminate(); });
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      if (wParam != FALSE) EndSession();
      return 0;
    default:
      return DefWindowProcW(window_, message, wParam, lParam);
  }
}

int TWin32Application::Run() {
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return static_cast<int>(msg.wParam);
      // Tab and the other dialog keys move between the main window's
      // controls, should it ever be shown.
      if (mainWindow_ != nullptr && IsDialogMessageW(mainWindow_, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    // Idle. A call queued after this check also posts the wake-up, which
    // ends the wait.
    MainThread::CheckSynchronize();
    if (waitHandle_ == nullptr) {
      WaitMessage();
    } else if (MsgWaitForMultipleObjects(1, &waitHandle_, FALSE, INFINITE, QS_ALLINPUT) ==
               WAIT_OBJECT_0) {
      // A copy: the call may replace it.
      const auto signalled = onWaitHandle_;
      Guarded([&] {
        if (signalled) signalled();
      });
    }
  }
}

void TWin32Application::SetWaitHandle(HANDLE handle, std::function<void()> signalled) {
  waitHandle_ = handle;
  onWaitHandle_ = handle != nullptr ? std::move(signalled) : std::function<void()>{};
}

void TWin32Application::EndLoop() noexcept {
  // The messages still queued are handled before the quit: a command among
  // them that finds the presentation application's queue full is dropped
  // at once rather than waited for.
  platform::CancelMailSlotWaits();
  // A menu open on the tray icon runs a loop of its own, which would hold
  // the quit until somebody closed the menu.
  EndMenu();
  PostQuitMessage(0);
}

void TWin32Application::EndSession() {
  if (sessionEnding_) return;
  sessionEnding_ = true;
  if (OnEndSession) {
    Guarded([this] { OnEndSession(); });
  } else {
    EndLoop();
  }
}

int TWin32Application::AddMessageHook(MessageHook hook) {
  const int id = nextHookId_++;
  hooks_.emplace_back(id, std::move(hook));
  return id;
}

void TWin32Application::RemoveMessageHook(int id) {
  std::erase_if(hooks_, [id](const auto& entry) { return entry.first == id; });
}

void TWin32Application::ShowException(const std::exception& e) { ShowExceptionReport(title_, e); }

void TWin32Application::Terminate() {
  if (!MainThread::IsCurrent()) {
    // The main thread does it when it takes the message.
    PostMessageW(window_, WM_CLOSE, 0, 0);
  } else if (mainWindow_ != nullptr) {
    SendMessageW(mainWindow_, WM_CLOSE, 0, 0);
  } else {
    EndLoop();
  }
}

void TWin32Application::ReportSafely(const std::exception& e) noexcept {
  try {
    ShowException(e);
  } catch (...) {
    // Nothing left to report with.
  }
}

void TWin32Application::ReportUnknown() noexcept {
  ReportSafely(std::runtime_error("Unknown exception"));
}

}  // namespace ostrivane
