// The tools' command line on Windows: the arguments come from the UTF-16
// command line; output is written as bytes to a file or pipe, and as UTF-16
// text to a console.
#include <windows.h>
// After windows.h:
#include <shellapi.h>

#include <memory>

#include "support/utf8.h"
#include "tools/tool_cli_platform.h"

namespace ostrivane::platform {
namespace {

struct LocalFreeDeleter {
  void operator()(LPWSTR* p) const noexcept { LocalFree(p); }
};

bool Write(DWORD which, std::string_view text) {
  const HANDLE handle = GetStdHandle(which);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return false;
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    const auto units =
        Utf8ToUtf16(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    if (!units) return false;
    const std::wstring wide(units->begin(), units->end());
    std::size_t done = 0;
    while (done < wide.size()) {
      DWORD written = 0;
      const auto chunk = static_cast<DWORD>(std::min<std::size_t>(wide.size() - done, 16384));
      if (!WriteConsoleW(handle, wide.data() + done, chunk, &written, nullptr) || written == 0) {
        return false;
      }
      done += written;
    }
    return true;
  }
  std::size_t done = 0;
  while (done < text.size()) {
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1 << 20));
    if (!WriteFile(handle, text.data() + done, chunk, &written, nullptr) || written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

}  // namespace

std::vector<std::string> StartTool(int /*argc*/, char** /*argv*/) {
  // The narrow arguments are in the ANSI code page; the UTF-16 command line
  // holds every character.
  int count = 0;
  const std::unique_ptr<LPWSTR, LocalFreeDeleter> args(
      CommandLineToArgvW(GetCommandLineW(), &count));
  std::vector<std::string> result;
  if (!args) return result;
  for (int i = 0; i < count; ++i) {
    const wchar_t* arg = args.get()[i];
    const std::u16string_view units(reinterpret_cast<const char16_t*>(arg), wcslen(arg));
    result.push_back(Utf16ToUtf8(units));
  }
  return result;
}

bool WriteStandardOutput(std::string_view text) { return Write(STD_OUTPUT_HANDLE, text); }

bool WriteStandardError(std::string_view text) { return Write(STD_ERROR_HANDLE, text); }

}  // namespace ostrivane::platform
