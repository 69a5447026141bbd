// What the Windows tray test does to the shell from outside the program:
//
//   tray_test_helper start-shell        starts the session's shell (the
//                                       desktop process) from this process,
//                                       so that it inherits this process's
//                                       environment and output, waits for
//                                       its notification area, prints
//                                       "shell ready" and stays until it is
//                                       ended: Wine's shell ends a moment
//                                       after the session's last program
//   tray_test_helper delete HWND ID     removes the icon (HWND, ID) from the
//                                       notification area (NIM_DELETE)
//   tray_test_helper owner-gone HWND    tells the shell that the window HWND
//                                       was destroyed, so that it drops that
//                                       window's icons without a word to their
//                                       program: the icon is simply gone, as
//                                       after a crash of the shell
//   tray_test_helper broadcast          broadcasts "TaskbarCreated", as the
//                                       shell does when it restarts
//   tray_test_helper close-application  asks the running Ostrivane.exe to
//                                       end, as a task manager does (WM_CLOSE
//                                       to its application window)
//   tray_test_helper window SECONDS     shows a window of its own at
//                                       (300, 300), 200 × 120, for that long:
//                                       somewhere outside the program to
//                                       click on
//   tray_test_helper class HWND         prints the class name of a window
//   tray_test_helper ui-language        prints GetUserDefaultUILanguage()
//
// HWND and ID are hexadecimal, with or without 0x. Exit code 0 on success,
// 1 when the system refused, 2 for a bad command line.
#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <optional>

namespace {

std::optional<unsigned long long> ParseHex(const char* text) {
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 16);
  if (end == text || *end != '\0') return std::nullopt;
  return value;
}

int StartShell() {
  // The first window of a session brings up the desktop process.
  if (GetDesktopWindow() == nullptr) return 1;
  for (int i = 0; i < 200; ++i) {
    if (FindWindowW(L"Shell_TrayWnd", nullptr) != nullptr) {
      std::puts("shell ready");
      std::fflush(stdout);
      for (;;) Sleep(INFINITE);
    }
    Sleep(50);
  }
  std::puts("no notification area");
  return 1;
}

int Delete(HWND window, UINT id) {
  NOTIFYICONDATAW data;
  std::memset(&data, 0, sizeof data);
  data.cbSize = sizeof data;
  data.hWnd = window;
  data.uID = id;
  const BOOL removed = Shell_NotifyIconW(NIM_DELETE, &data);
  std::printf("deleted %d\n", removed);
  return removed != FALSE ? 0 : 1;
}

int OwnerGone(HWND window) {
  // Wine's desktop learns of every top-level window's end this way and
  // drops the icons that window owned.
  const HWND desktop = GetDesktopWindow();
  if (desktop == nullptr) return 1;
  SendMessageW(desktop, WM_PARENTNOTIFY, MAKEWPARAM(WM_DESTROY, 0),
               reinterpret_cast<LPARAM>(window));
  std::puts("told");
  return 0;
}

int Broadcast() {
  const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
  const BOOL posted = PostMessageW(HWND_BROADCAST, message, 0, 0);
  std::printf("broadcast 0x%X %d\n", message, posted);
  return posted != FALSE ? 0 : 1;
}

int CloseApplication() {
  const HWND application = FindWindowW(L"TApplication", L"Ostrivane");
  if (application == nullptr) return 1;
  return PostMessageW(application, WM_CLOSE, 0, 0) != FALSE ? 0 : 1;
}

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_TIMER || message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

int ShowWindowFor(unsigned long long seconds) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = PlainWindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  wc.lpszClassName = L"TrayTestOutside";
  RegisterClassW(&wc);
  const HWND window =
      CreateWindowExW(0, wc.lpszClassName, L"outside", WS_POPUP | WS_BORDER | WS_VISIBLE, 300, 300,
                      200, 120, nullptr, nullptr, wc.hInstance, nullptr);
  if (window == nullptr) return 1;
  std::puts("shown");
  std::fflush(stdout);
  SetTimer(window, 1, static_cast<UINT>(seconds * 1000), nullptr);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  DestroyWindow(window);
  return 0;
}

int ClassOf(HWND window) {
  wchar_t name[256] = {};
  if (GetClassNameW(window, name, 256) == 0) return 1;
  std::printf("%ls\n", name);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "start-shell") == 0) return StartShell();
  if (argc == 2 && std::strcmp(argv[1], "broadcast") == 0) return Broadcast();
  if (argc == 2 && std::strcmp(argv[1], "close-application") == 0) return CloseApplication();
  if (argc == 2 && std::strcmp(argv[1], "ui-language") == 0) {
    std::printf("0x%04X\n", static_cast<unsigned>(GetUserDefaultUILanguage()));
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "window") == 0) {
    const auto seconds = ParseHex(argv[2]);
    if (!seconds || *seconds > 600) return 2;
    return ShowWindowFor(*seconds);
  }
  if (argc == 3 && std::strcmp(argv[1], "owner-gone") == 0) {
    const auto window = ParseHex(argv[2]);
    if (!window) return 2;
    return OwnerGone(reinterpret_cast<HWND>(static_cast<UINT_PTR>(*window)));
  }
  if (argc == 3 && std::strcmp(argv[1], "class") == 0) {
    const auto window = ParseHex(argv[2]);
    if (!window) return 2;
    return ClassOf(reinterpret_cast<HWND>(static_cast<UINT_PTR>(*window)));
  }
  if (argc == 4 && std::strcmp(argv[1], "delete") == 0) {
    const auto window = ParseHex(argv[2]);
    const auto id = ParseHex(argv[3]);
    if (!window || !id || *id > 0xFFFFFFFFULL) return 2;
    return Delete(reinterpret_cast<HWND>(static_cast<UINT_PTR>(*window)), static_cast<UINT>(*id));
  }
  std::fputs(
      "usage: tray_test_helper start-shell | delete HWND ID | owner-gone HWND | broadcast | "
      "close-application | window SECONDS | class HWND | ui-language\n",
      stderr);
  return 2;
}
