// The application object on Windows: a hidden top-level window of its own,
// the message loop, the standard exception report, and the platform's half
// of the main-thread rendezvous.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/main_form.h"

namespace ostrivane {

class TWin32Application final : public IApplication {
 public:
  // Makes the calling thread the main thread, creates the application window
  // (hidden, top-level, so that broadcasts to top-level windows reach it) and
  // routes the rendezvous' wake-up to it. Raises ESystemError when the window
  // cannot be made.
  explicit TWin32Application(HINSTANCE instance);
  // Removes the wake-up, then destroys the window.
  ~TWin32Application() override;
  TWin32Application(const TWin32Application&) = delete;
  TWin32Application& operator=(const TWin32Application&) = delete;

  [[nodiscard]] HWND Handle() const noexcept { return window_; }
  [[nodiscard]] HINSTANCE Instance() const noexcept { return instance_; }
  // The application's title, made from the program file's name.
  [[nodiscard]] const std::wstring& Title() const noexcept { return title_; }

  // The main window: closing it ends the message loop; Terminate closes it.
  void SetMainWindow(HWND window) noexcept { mainWindow_ = window; }
  [[nodiscard]] HWND MainWindow() const noexcept { return mainWindow_; }

  // Runs the message loop until it is ended; answers the exit code. When
  // the loop has nothing left to do it serves waiting hand-offs, then sleeps
  // until the next message.
  int Run();
  // Ends the message loop (the main window was closed).
  void EndLoop() noexcept;

  // A handle that the loop waits for together with the messages when it
  // has nothing else to do (the network watch's event): once the handle is
  // signalled, the loop calls `signalled`, which must take the signal
  // away. One handle at a time; null removes it.
  void SetWaitHandle(HANDLE handle, std::function<void()> signalled);

  // The session ends (WM_ENDSESSION with TRUE, to any of the program's
  // top-level windows). The system may end the process as soon as the
  // message is answered, so `OnEndSession` must carry out the shutdown
  // before it returns, or not return. Without it, the loop just ends. Runs
  // once however many windows are told.
  void EndSession();
  std::function<void()> OnEndSession;

  // Hooks on the application window: each sees every message the window
  // receives, before the window handles it, and consumes none.
  using MessageHook = std::function<void(UINT message, WPARAM wParam, LPARAM lParam)>;
  int AddMessageHook(MessageHook hook);
  void RemoveMessageHook(int id);

  // Runs `handler` and reports an exception it raises, so that no exception
  // crosses the system's frames of a window procedure.
  template <typename Handler>
  void Guarded(Handler&& handler) noexcept {
    try {
      std::forward<Handler>(handler)();
    } catch (const std::exception& e) {
      ReportSafely(e);
    } catch (...) {
      ReportUnknown();
    }
  }

  // IApplication
  // A message box with the error icon and an OK button, titled with the
  // application's title.
  void ShowException(const std::exception& e) override;
  // Closes the main window the way a user would (WM_CLOSE), which ends the
  // loop; without a main window, ends the loop.
  void Terminate() override;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void ReportSafely(const std::exception& e) noexcept;
  void ReportUnknown() noexcept;

  HINSTANCE instance_;
  std::wstring title_;
  HWND window_ = nullptr;
  HWND mainWindow_ = nullptr;
  bool sessionEnding_ = false;
  HANDLE waitHandle_ = nullptr;
  std::function<void()> onWaitHandle_;
  std::vector<std::pair<int, MessageHook>> hooks_;
  int nextHookId_ = 1;
};

// The application's title: ApplicationTitle of the program file's name.
std::wstring ProgramApplicationTitle();

// The standard exception report under `title`.
void ShowExceptionReport(const std::wstring& title, const std::exception& e);

// UTF-8 text (the messages of this program's exceptions) for the Win32 API;
// a text that is not well-formed UTF-8 is read in the ANSI code page.
std::wstring WideFromUtf8(std::string_view text);

}  // namespace ostrivane
