// A stand-in for lvx-firewall.exe in the program's firewall test: writes the
// arguments it was given to lvx-firewall-args.txt beside itself, one a line,
// and ends two seconds later, like a tool that waits for the user.
#include <windows.h>

#include <string>

int main(int argc, char** argv) {
  std::wstring path(MAX_PATH, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), MAX_PATH));
  path = path.substr(0, path.find_last_of(L'\\') + 1) + L"lvx-firewall-args.txt";
  std::string text;
  for (int i = 1; i < argc; ++i) {
    text += argv[i];
    text += '\n';
  }
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  Sleep(2000);
  return ok ? 0 : 1;
}
