// window_probe: a console tool for the end-to-end tests of Ostrivane.exe.
// It looks at the top-level windows of the desktop it runs on, the way a
// user would see them, and prints what it finds as UTF-8 lines:
//
//   window_probe dialog TITLE       the process id of the dialog box (a
//                                   message box, say) titled TITLE, then the
//                                   text of each of its static controls
//   window_probe dismiss TITLE      presses OK on that dialog box
//   window_probe pids CLASS         the process id of each top-level window
//                                   of the window class CLASS
//   window_probe text CLASS ID [PID]
//                                   the text of the control ID (a number) of
//                                   the first top-level window of CLASS (of
//                                   process PID, when given)
//   window_probe close CLASS [PID]  posts WM_CLOSE to each top-level window
//                                   of CLASS (of process PID only, when
//                                   given) and prints how many it reached
//   window_probe acp                the ANSI code page (GetACP)
//   window_probe answers CLASS PID MS
//                                   for MS milliseconds, sends WM_NULL to the
//                                   top-level window of CLASS of process PID
//                                   every 100 ms (SendMessageTimeout, 1000 ms
//                                   each); prints how many were sent, how
//                                   many went unanswered and the longest
//                                   answer in ms
//
// Exit status: 0 done, 1 no such window, 2 usage error, 3 a message went
// unanswered.
#include <windows.h>
// After windows.h, which they need.
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kDone = 0;
constexpr int kNotFound = 1;
constexpr int kUsage = 2;
constexpr int kUnanswered = 3;

void Print(std::wstring_view text) {
  if (text.empty()) return;
  const int size = static_cast<int>(text.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return;
  std::string utf8(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), length, nullptr, nullptr);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
}

void PrintLine(std::wstring_view text) {
  Print(text);
  std::fputc('\n', stdout);
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  const int length = GetClassNameW(window, name, 256);
  return std::wstring(name, static_cast<std::size_t>(length > 0 ? length : 0));
}

// The window's text through WM_GETTEXT, which a window of another process
// answers as well.
std::wstring TextOf(HWND window) {
  const LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const LRESULT copied =
      SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
  return text;
}

DWORD ProcessOf(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid;
}

std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> windows;
  EnumWindows(
      [](HWND window, LPARAM list) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  return windows;
}

std::vector<HWND> ChildWindows(HWND parent) {
  std::vector<HWND> windows;
  EnumChildWindows(
      parent,
      [](HWND window, LPARAM list) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  return windows;
}

std::vector<HWND> WindowsOfClass(std::wstring_view className) {
  std::vector<HWND> found;
  for (const HWND window : TopLevelWindows()) {
    if (ClassOf(window) == className) found.push_back(window);
  }
  return found;
}

// The first visible dialog box (window class "#32770") with the caption
// `title`.
HWND FindDialog(std::wstring_view title) {
  for (const HWND window : WindowsOfClass(L"#32770")) {
    if (IsWindowVisible(window) && TextOf(window) == title) return window;
  }
  return nullptr;
}

// Line ends as "\n", so that each line of the text is one output line.
std::wstring WithNewlines(std::wstring_view text) {
  std::wstring out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\r') {
      out.push_back(L'\n');
      if (i + 1 < text.size() && text[i + 1] == L'\n') ++i;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

int ShowDialog(std::wstring_view title) {
  const HWND dialog = FindDialog(title);
  if (dialog == nullptr) return kNotFound;
  PrintLine(std::to_wstring(ProcessOf(dialog)));
  for (const HWND child : ChildWindows(dialog)) {
    if (GetParent(child) != dialog) continue;
    if (ClassOf(child) != L"Static") continue;
    // The message box's icon is a static control without text.
    const std::wstring text = TextOf(child);
    if (!text.empty()) PrintLine(WithNewlines(text));
  }
  return kDone;
}

int DismissDialog(std::wstring_view title) {
  const HWND dialog = FindDialog(title);
  if (dialog == nullptr) return kNotFound;
  const HWND ok = GetDlgItem(dialog, IDOK);
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
  return kDone;
}

int ShowProcesses(std::wstring_view className) {
  const std::vector<HWND> windows = WindowsOfClass(className);
  for (const HWND window : windows) PrintLine(std::to_wstring(ProcessOf(window)));
  return windows.empty() ? kNotFound : kDone;
}

// A positive decimal number, or 0.
unsigned long Number(const std::wstring& text) {
  wchar_t* end = nullptr;
  const unsigned long value = std::wcstoul(text.c_str(), &end, 10);
  return end == text.c_str() || *end != L'\0' ? 0 : value;
}

int ShowControlText(std::wstring_view className, const std::wstring& idText,
                    const std::wstring* pidText) {
  const unsigned long id = Number(idText);
  if (id == 0 || id > 0xFFFF) return kUsage;
  DWORD only = 0;
  if (pidText != nullptr) {
    only = static_cast<DWORD>(Number(*pidText));
    if (only == 0) return kUsage;
  }
  for (const HWND window : WindowsOfClass(className)) {
    if (only != 0 && ProcessOf(window) != only) continue;
    const HWND control = GetDlgItem(window, static_cast<int>(id));
    if (control == nullptr) continue;
    PrintLine(WithNewlines(TextOf(control)));
    return kDone;
  }
  return kNotFound;
}

int CloseWindows(std::wstring_view className, const std::wstring* pidText) {
  DWORD only = 0;
  if (pidText != nullptr) {
    only = static_cast<DWORD>(Number(*pidText));
    if (only == 0) return kUsage;
  }
  int reached = 0;
  for (const HWND window : WindowsOfClass(className)) {
    if (only != 0 && ProcessOf(window) != only) continue;
    if (PostMessageW(window, WM_CLOSE, 0, 0)) ++reached;
  }
  PrintLine(std::to_wstring(reached));
  return reached > 0 ? kDone : kNotFound;
}

// Whether the program answers messages all the time: a window that is
// busy for 1000 ms leaves one unanswered.
int WatchAnswers(std::wstring_view className, const std::wstring& pidText,
                 const std::wstring& msText) {
  const DWORD only = static_cast<DWORD>(Number(pidText));
  const unsigned long span = Number(msText);
  if (only == 0 || span == 0) return kUsage;
  HWND target = nullptr;
  for (const HWND window : WindowsOfClass(className)) {
    if (ProcessOf(window) == only) target = window;
  }
  if (target == nullptr) return kNotFound;
  const ULONGLONG end = GetTickCount64() + span;
  unsigned long sent = 0;
  unsigned long unanswered = 0;
  ULONGLONG longest = 0;
  while (GetTickCount64() < end) {
    const ULONGLONG start = GetTickCount64();
    DWORD_PTR result = 0;
    ++sent;
    if (SendMessageTimeoutW(target, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result) == 0) {
      ++unanswered;
    }
    const ULONGLONG took = GetTickCount64() - start;
    if (took > longest) longest = took;
    if (took < 100) Sleep(static_cast<DWORD>(100 - took));
  }
  PrintLine(std::to_wstring(sent) + L" " + std::to_wstring(unanswered) + L" " +
            std::to_wstring(longest));
  return unanswered == 0 ? kDone : kUnanswered;
}

int Usage() {
  std::fputs(
      "usage: window_probe dialog TITLE | dismiss TITLE | pids CLASS | text CLASS ID [PID] |\n"
      "                    close CLASS [PID] | acp | answers CLASS PID MS\n",
      stderr);
  return kUsage;
}

}  // namespace

int main() {
  // "\n" stays one byte: the output is read by a program, not a console.
  _setmode(_fileno(stdout), _O_BINARY);
  // The arguments as the system holds them, in UTF-16.
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return Usage();
  const std::vector<std::wstring> args(argv + 1, argv + argc);
  LocalFree(argv);
  if (args.empty()) return Usage();
  const std::wstring_view command = args[0];
  int status = kUsage;
  if (command == L"acp" && args.size() == 1) {
    PrintLine(std::to_wstring(GetACP()));
    status = kDone;
  } else if (command == L"dialog" && args.size() == 2) {
    status = ShowDialog(args[1]);
  } else if (command == L"dismiss" && args.size() == 2) {
    status = DismissDialog(args[1]);
  } else if (command == L"pids" && args.size() == 2) {
    status = ShowProcesses(args[1]);
  } else if (command == L"close" && (args.size() == 2 || args.size() == 3)) {
    status = CloseWindows(args[1], args.size() == 3 ? &args[2] : nullptr);
  } else if (command == L"text" && (args.size() == 3 || args.size() == 4)) {
    status = ShowControlText(args[1], args[2], args.size() == 4 ? &args[3] : nullptr);
  } else if (command == L"answers" && args.size() == 4) {
    status = WatchAnswers(args[1], args[2], args[3]);
  } else {
    return Usage();
  }
  std::fflush(stdout);
  return status;
}
